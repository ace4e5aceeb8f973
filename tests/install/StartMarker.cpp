// A tiny program that the tests start in place of a launcher: it writes its
// arguments, one a line, to "start-marker.txt" in its working directory and
// ends with exit code 7, so a test sees that it ran, where, and with what.
#include <fstream>

int main(int argc, char** argv) {
  std::ofstream marker("start-marker.txt", std::ios::binary);
  for (int i = 0; i < argc; ++i) marker << argv[i] << '\n';
  return 7;
}
