// A stand-in for the game client in the tests: writes the arguments it was
// given (joined by one blank) and its working folder to "game-client.txt"
// beside itself, then waits while "game-client.hold" exists there (at most a
// minute) and ends with exit code 0.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  const std::string self = argc > 0 ? argv[0] : "";
  const size_t slash = self.find_last_of("\\/");
  const std::string folder = slash == std::string::npos ? std::string() : self.substr(0, slash + 1);
  std::string arguments;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) arguments += ' ';
    arguments += argv[i];
  }
  {
    std::ofstream out(folder + "game-client.txt", std::ios::binary);
    out << "arguments=" << arguments << "\n" << "folder=" << std::filesystem::current_path().string() << "\n";
  }
  for (int i = 0; i < 3000 && std::filesystem::exists(folder + "game-client.hold"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;
}
