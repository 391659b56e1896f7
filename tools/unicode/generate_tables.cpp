// Build-time generator: reads UnicodeData.txt and writes the canonical decompositions, the
// canonical combining classes and the marks that extend a character cluster (general
// categories Mn and Me), as sorted C++ tables.
#include <cstdint>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> fields(const std::string& line) {
  std::vector<std::string> parts;
  std::stringstream stream(line);
  for (std::string part; std::getline(stream, part, ';');) parts.push_back(part);
  return parts;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::cerr << "usage: generate-unicode-tables UnicodeData.txt OUTPUT\n";
    return 2;
  }
  std::ifstream in(argv[1]);
  if (!in) {
    std::cerr << "cannot read " << argv[1] << "\n";
    return 1;
  }
  std::ostringstream decompositions;
  std::ostringstream classes;
  std::ostringstream marks;
  for (std::string line; std::getline(in, line);) {
    auto parts = fields(line);
    if (parts.size() < 6) continue;
    std::uint32_t code = std::stoul(parts[0], nullptr, 16);
    const std::string& category = parts[2];
    int combiningClass = std::stoi(parts[3]);
    const std::string& decomposition = parts[5];
    if (combiningClass != 0)
      classes << "    {0x" << std::hex << code << ", " << std::dec << combiningClass << "},\n";
    if (category == "Mn" || category == "Me") marks << "    0x" << std::hex << code << ",\n";
    // Canonical decompositions only: compatibility ones start with a <tag>.
    if (!decomposition.empty() && decomposition.front() != '<') {
      std::stringstream targets(decomposition);
      std::vector<std::uint32_t> mapped;
      for (std::string target; targets >> target;)
        mapped.push_back(std::stoul(target, nullptr, 16));
      decompositions << "    {0x" << std::hex << code;
      for (std::size_t i = 0; i < 2; ++i)
        decompositions << ", 0x" << (i < mapped.size() ? mapped[i] : 0);
      decompositions << "},\n";
      if (mapped.size() > 2) {
        std::cerr << "unexpected canonical decomposition of more than two code points\n";
        return 1;
      }
    }
  }
  std::ofstream out(argv[2]);
  out << "// Generated from UnicodeData.txt by generate-unicode-tables. Do not edit.\n"
      << "constexpr CanonicalDecomposition kCanonicalDecompositions[] = {\n"
      << decompositions.str() << "};\n"
      << "constexpr CombiningClass kCombiningClasses[] = {\n"
      << classes.str() << "};\n"
      << "constexpr std::uint32_t kClusterExtendingMarks[] = {\n"
      << marks.str() << "};\n";
  return 0;
}
