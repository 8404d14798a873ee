// ddfc SOURCE OUTPUT: compiles a dictionary source into the dictionary file
// data files are created from.
#include <iostream>

#include "platform/file_system.h"
#include "suite/tool/dictionary_source.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: ddfc SOURCE OUTPUT\n";
    return 2;
  }
  const platform::ReadResult source = platform::ReadWholeFile(argv[1]);
  if (!source.ok()) {
    std::cerr << "ddfc: " << argv[1] << ": " << source.status.Describe() << "\n";
    return 1;
  }
  const suite::CompiledDictionary d = suite::CompileDictionary(source.bytes);
  if (!d.error.empty()) {
    std::cerr << argv[1] << ": " << d.error << "\n";
    return 1;
  }
  const platform::FileStatus written = platform::WriteWholeFile(argv[2], suite::DictionaryFile(d.creation));
  if (!written.ok()) {
    std::cerr << "ddfc: " << argv[2] << ": " << written.Describe() << "\n";
    return 1;
  }
  return 0;
}
