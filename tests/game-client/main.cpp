// A stand-in for the game client in the tests: writes its command line (the
// words it was given, joined by one blank) and its working folder to
// "game-client.txt" in its working folder, then waits while
// "game-client.hold" exists there (at most a minute) and ends with exit
// code 0. The working folder is where the launcher starts it: its own.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  std::string commandLine;
  for (int i = 0; i < argc; ++i) {
    if (i > 0) commandLine += ' ';
    commandLine += argv[i];
  }
  {
    std::ofstream out("game-client.txt", std::ios::binary);
    out << "commandline=" << commandLine << "\n" << "folder=" << std::filesystem::current_path().string() << "\n";
  }
  for (int i = 0; i < 3000 && std::filesystem::exists("game-client.hold"); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return 0;
}
