// Writes a store of the scale table: zusms_scale_gen PATH MESSAGES
// (messages of user 1; a tenth as many more of users 2 to 4).
#include <cstdio>
#include <exception>
#include <string>

#include "ScaleData.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: zusms_scale_gen PATH MESSAGES\n");
    return 2;
  }
  try {
    const zusms::bench::ScaleStore s = zusms::bench::MakeScaleStore(argv[1], std::stoll(argv[2]));
    std::printf("{\"messages\": %lld, \"file_bytes\": %lld, \"index_seconds\": %.3f}\n",
                static_cast<long long>(s.heads), static_cast<long long>(s.file_bytes),
                s.index_seconds);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "zusms_scale_gen: %s\n", e.what());
    return 1;
  }
}
