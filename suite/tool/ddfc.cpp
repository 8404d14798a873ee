// ddfc SOURCE OUTPUT: compiles a dictionary source into the dictionary file
// data files are created from.
// ddfc --header OUTPUT SOURCE...: writes the C++ header of typed record
// views of every source: dictionary sources (.ddf) and the record layouts
// of working files (.layout, without keys).
#include <filesystem>
#include <iostream>
#include <vector>

#include "platform/file_system.h"
#include "suite/tool/dictionary_source.h"
#include "suite/tool/layout_header.h"

namespace {

constexpr const char* kUsage =
    "usage: ddfc SOURCE OUTPUT                 compile a dictionary source (.ddf)\n"
    "       ddfc --header OUTPUT SOURCE...     the typed views of .ddf and .layout sources\n";

bool Read(const std::string& path, std::string& bytes) {
  platform::ReadResult source = platform::ReadWholeFile(path);
  if (!source.ok()) {
    std::cerr << "ddfc: " << path << ": " << source.status.Describe() << "\n";
    return false;
  }
  bytes = std::move(source.bytes);
  return true;
}

bool Write(const std::string& path, const std::string& bytes) {
  const platform::FileStatus written = platform::WriteWholeFile(path, bytes);
  if (!written.ok()) {
    std::cerr << "ddfc: " << path << ": " << written.Describe() << "\n";
    return false;
  }
  return true;
}

int Dictionary(const std::string& sourcePath, const std::string& output) {
  std::string source;
  if (!Read(sourcePath, source)) return 1;
  const suite::CompiledDictionary d = suite::CompileDictionary(source);
  if (!d.error.empty()) {
    std::cerr << sourcePath << ": " << d.error << "\n";
    return 1;
  }
  return Write(output, suite::DictionaryFile(d.creation)) ? 0 : 1;
}

int Header(const std::string& output, const std::vector<std::string>& sources) {
  std::vector<suite::LayoutInput> layouts;
  for (const std::string& path : sources) {
    std::string text;
    if (!Read(path, text)) return 1;
    const std::filesystem::path name(path);
    suite::LayoutInput l;
    l.base = name.stem().string();
    l.source = suite::ParseDictionarySource(text);
    std::string error = l.source.error;
    if (error.empty() && name.extension() == ".ddf") {
      const suite::CompiledDictionary d = suite::CompileDictionary(l.source);
      error = d.error;
      l.creation = d.creation;
    } else if (error.empty() && name.extension() == ".layout") {
      if (!l.source.keys.empty() || l.source.page != 0)
        error = "a layout without a data file has no keys and no page size";
    } else if (error.empty()) {
      error = "a source is a .ddf or a .layout file";
    }
    if (!error.empty()) {
      std::cerr << path << ": " << error << "\n";
      return 1;
    }
    layouts.push_back(std::move(l));
  }
  const suite::GeneratedHeader header = suite::LayoutHeader(layouts);
  if (!header.error.empty()) {
    std::cerr << "ddfc: " << header.error << "\n";
    return 1;
  }
  // An unchanged header keeps its time, so that nothing is rebuilt for it.
  if (const platform::ReadResult old = platform::ReadWholeFile(output); old.ok() && old.bytes == header.text) return 0;
  return Write(output, header.text) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() >= 2 && args[0] == "--header") return Header(args[1], {args.begin() + 2, args.end()});
  if (args.size() == 2 && args[0].rfind("--", 0) != 0) return Dictionary(args[0], args[1]);
  std::cerr << kUsage;
  return 2;
}
