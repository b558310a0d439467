// Runs against one package of the `packages` target: the program loads only if every symbol it
// needs resolves in the package, and the package must name the host version it was built for.
//   package_check KtInetRX101 10.1
#include <cstdio>
#include <string>

#include "design/KtInetPkg.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: package_check PACKAGE HOSTVERSION\n");
    return 2;
  }
  const std::string name = ktinet::UTF8Encode(ktinet::PackageName());
  const std::string version = ktinet::UTF8Encode(ktinet::HostVersion());
  const bool legacy = ktinet::HasLegacyTrackers();
  if (name != argv[1] || version != argv[2] || legacy != (version == "10")) {
    std::fprintf(stderr, "package %s says it is %s for host version %s%s\n", argv[1], name.c_str(), version.c_str(),
                 legacy ? " with the earlier trackers" : "");
    return 1;
  }
  return 0;
}
