// The sample server as a program: serves until SIGINT or SIGTERM.
#include "tds/sampleserver.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <string>

namespace {

void Usage(std::ostream& out) {
  out << "usage: sampleserver [--port N] [--data DIR] [--host H] [--help]\n"
         "  --port N   port to listen on; 0 (the default) picks a free one\n"
         "  --data DIR keep the databases as SQLite files in DIR (default: in memory)\n"
         "  --host H   address to listen on (default 127.0.0.1)\n";
}

}  // namespace

int main(int argc, char** argv) {
  sampleserver::ServerOptions options;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) {
        std::cerr << "sampleserver: " << arg << " needs a value\n";
        std::exit(2);
      }
      return argv[++i];
    };
    if (arg == "--help" || arg == "-h") {
      Usage(std::cout);
      return 0;
    } else if (arg == "--port") {
      std::string v = value();
      char* end = nullptr;
      long port = std::strtol(v.c_str(), &end, 10);
      if (v.empty() || *end != '\0' || port < 0 || port > 65535) {
        std::cerr << "sampleserver: invalid port '" << v << "'\n";
        return 2;
      }
      options.port = static_cast<uint16_t>(port);
    } else if (arg == "--data") {
      options.dataDir = value();
    } else if (arg == "--host") {
      options.host = value();
    } else {
      std::cerr << "sampleserver: unknown argument '" << arg << "'\n";
      Usage(std::cerr);
      return 2;
    }
  }

  // Block the stop signals before any thread starts, so that only sigwait below receives them.
  sigset_t stop;
  sigemptyset(&stop);
  sigaddset(&stop, SIGINT);
  sigaddset(&stop, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop, nullptr);

  std::unique_ptr<sampleserver::SampleServer> server;
  try {
    server = sampleserver::SampleServer::Start(options);
  } catch (const std::exception& e) {
    std::cerr << "sampleserver: " << e.what() << "\n";
    return 1;
  }
  std::printf("sampleserver listening on %s:%u\n", options.host.c_str(),
              static_cast<unsigned>(server->Port()));
  std::fflush(stdout);

  int signal = 0;
  sigwait(&stop, &signal);
  server->Stop();
  return 0;
}
