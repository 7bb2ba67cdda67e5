// aqpack: inspects, writes and unpacks pack containers.
//   aqpack list FILE          header and directory of the first container
//   aqpack tree DIR OUT       a tree container of DIR
//   aqpack flat OUT FILE...   a flat container of the files
//   aqpack extract FILE DIR   unpacks a tree container, printing its log;
//                             exits 1 when anything was not extracted
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "pack/pack.h"
#include "pack/packwriter.h"

namespace {

int usage() {
  std::fprintf(stderr,
               "usage: aqpack list FILE\n"
               "       aqpack tree DIR OUT\n"
               "       aqpack flat OUT FILE...\n"
               "       aqpack extract FILE DIR\n");
  return 2;
}

int list(const char* file) {
  Pack pack;
  if (pack.open(file) == 0) {
    std::fprintf(stderr, "aqpack: %s holds no container\n", file);
    return 1;
  }
  std::printf("offset=%llu total=%u count=%u reserved=%u,%u,%u\n",
              static_cast<unsigned long long>(pack.signatureOffset()), pack.totalLength(), pack.declaredCount(),
              pack.reserved24(), pack.reserved36(), pack.reserved40());
  const auto& entries = pack.entries();
  for (size_t i = 0; i < entries.size(); ++i) {
    const PackEntry& e = entries[i];
    std::printf("%zu\t%u\t%u\t%u\t%u\t%u\t%u\t%u\t%u\t%s\n", i, e.kind, e.offset, e.length, e.nextSibling,
                e.previousSibling, e.parent, e.firstChild, e.checksum, printableName(e.name).c_str());
  }
  if (pack.count() < static_cast<int>(pack.declaredCount()))
    std::fprintf(stderr, "aqpack: the header declares %u entries, %d are present\n", pack.declaredCount(),
                 pack.count());
  return 0;
}

int tree(const char* dir, const char* out) {
  PackTreeWriter writer;
  if (!writer.build(dir)) {
    std::fprintf(stderr, "aqpack: %s\n", writer.error().c_str());
    return 1;
  }
  if (!writer.write(out)) {
    std::fprintf(stderr, "aqpack: could not write %s\n", out);
    return 1;
  }
  return 0;
}

std::string directoryOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return std::string();
  return slash == 0 ? std::string("/") : path.substr(0, slash);
}

int flat(const char* out, int count, char** files) {
  PackWriter writer;
  // The data file goes beside the output.
  if (!writer.begin(out, directoryOf(out))) {
    std::fprintf(stderr, "aqpack: could not begin %s\n", out);
    return 1;
  }
  int missing = 0;
  for (int i = 0; i < count; ++i) {
    if (!writer.add(files[i])) {
      std::fprintf(stderr, "aqpack: could not add %s\n", files[i]);
      ++missing;
    }
  }
  if (!writer.finish()) {
    std::fprintf(stderr, "aqpack: could not write %s\n", out);
    return 1;
  }
  return missing ? 1 : 0;
}

int extract(const char* file, const char* dir) {
  Pack pack;
  if (pack.open(file) == 0) {
    std::fprintf(stderr, "aqpack: %s holds no container\n", file);
    return 1;
  }
  packHooks().log = [](std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  };
  packHooks().problem = [](std::string_view line) {
    std::fprintf(stderr, "aqpack: %.*s\n", static_cast<int>(line.size()), line.data());
  };
  const TreeExtraction result = pack.extractTreeReporting(dir);
  std::fflush(stdout);
  if (result.complete()) return 0;
  if (result.notExtracted)
    std::fprintf(stderr, "aqpack: %u member(s) of %s were not extracted\n", result.notExtracted, file);
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  const std::string_view command = argv[1];
  if (command == "list" && argc == 3) return list(argv[2]);
  if (command == "tree" && argc == 4) return tree(argv[2], argv[3]);
  if (command == "flat" && argc >= 3) return flat(argv[2], argc - 3, argv + 3);
  if (command == "extract" && argc == 4) return extract(argv[2], argv[3]);
  return usage();
}
