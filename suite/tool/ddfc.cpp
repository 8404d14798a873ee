// ddfc SOURCE OUTPUT: compiles a dictionary source into the dictionary file
// data files are created from.
#include <fstream>
#include <iostream>
#include <sstream>

#include "suite/tool/dictionary_source.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: ddfc SOURCE OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::cerr << "ddfc: cannot read " << argv[1] << "\n";
    return 1;
  }
  std::ostringstream text;
  text << in.rdbuf();
  const suite::CompiledDictionary d = suite::CompileDictionary(text.str());
  if (!d.error.empty()) {
    std::cerr << argv[1] << ": " << d.error << "\n";
    return 1;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << suite::DictionaryFile(d.creation);
  if (!out.flush()) {
    std::cerr << "ddfc: cannot write " << argv[2] << "\n";
    return 1;
  }
  return 0;
}
