// Rows per second the sample server streams to one FreeTDS Client-Library client: a
// 1,000,000-row select (six cross-joined copies of a ten-row table), bound as text and fetched
// row by row, as the query component does.
//
//   bench_server_stream [rows-exponent=6]
#include "tds/sampleserver.h"

#include <ctpublic.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

void Check(CS_RETCODE rc, const char* what) {
  if (rc != CS_SUCCEED) throw std::runtime_error(std::string(what) + " failed");
}

// Runs a batch and drains its results; returns the rows fetched.
long long Run(CS_CONNECTION* con, const std::string& sql, int columns) {
  CS_COMMAND* cmd = nullptr;
  Check(ct_cmd_alloc(con, &cmd), "ct_cmd_alloc");
  Check(ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED),
        "ct_command");
  Check(ct_send(cmd), "ct_send");
  long long rows = 0;
  std::vector<std::vector<char>> buffers(columns, std::vector<char>(32));
  std::vector<CS_INT> lengths(columns);
  std::vector<CS_SMALLINT> indicators(columns);
  CS_INT type = 0;
  CS_RETCODE rc;
  while ((rc = ct_results(cmd, &type)) == CS_SUCCEED) {
    if (type == CS_CMD_FAIL) throw std::runtime_error("statement failed: " + sql.substr(0, 60));
    if (type != CS_ROW_RESULT) continue;
    for (int i = 0; i < columns; ++i) {
      CS_DATAFMT fmt{};
      fmt.datatype = CS_CHAR_TYPE;
      fmt.format = CS_FMT_NULLTERM;
      fmt.maxlength = static_cast<CS_INT>(buffers[i].size());
      fmt.count = 1;
      Check(ct_bind(cmd, i + 1, &fmt, buffers[i].data(), &lengths[i], &indicators[i]), "ct_bind");
    }
    CS_INT read = 0;
    while ((rc = ct_fetch(cmd, CS_UNUSED, CS_UNUSED, CS_UNUSED, &read)) == CS_SUCCEED) rows += read;
    if (rc != CS_END_DATA) throw std::runtime_error("ct_fetch failed");
  }
  ct_cmd_drop(cmd);
  return rows;
}

}  // namespace

int main(int argc, char** argv) {
  const int joins = argc > 1 ? std::atoi(argv[1]) : 6;
  if (joins < 1 || joins > 7) {
    std::fprintf(stderr, "usage: %s [1..7]\n", argv[0]);
    return 2;
  }
  try {
    const auto data =
        std::filesystem::temp_directory_path() / ("norv-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(data);
    sampleserver::ServerOptions options;
    options.dataDir = data.string();
    auto server = sampleserver::SampleServer::Start(options);

    const auto conf = data / "freetds.conf";
    std::ofstream(conf) << "[global]\n\ttds version = 5.0\n\tclient charset = UTF-8\n[BENCH]\n"
                        << "\thost = 127.0.0.1\n\tport = " << server->Port() << "\n";
    ::setenv("FREETDSCONF", conf.c_str(), 1);

    CS_CONTEXT* ctx = nullptr;
    Check(cs_ctx_alloc(CS_VERSION_100, &ctx), "cs_ctx_alloc");
    Check(ct_init(ctx, CS_VERSION_100), "ct_init");
    CS_CONNECTION* con = nullptr;
    Check(ct_con_alloc(ctx, &con), "ct_con_alloc");
    Check(ct_con_props(con, CS_SET, CS_USERNAME, const_cast<char*>("sa"), CS_NULLTERM, nullptr),
          "username");
    Check(ct_con_props(con, CS_SET, CS_PASSWORD, const_cast<char*>(""), CS_NULLTERM, nullptr),
          "password");
    CS_INT packet = 4096;
    ct_con_props(con, CS_SET, CS_PACKETSIZE, &packet, CS_UNUSED, nullptr);
    Check(ct_connect(con, const_cast<char*>("BENCH"), CS_NULLTERM), "ct_connect");

    Run(con, "create table #ten (n int not null)", 0);
    for (int i = 0; i < 10; ++i) Run(con, "insert #ten values (" + std::to_string(i) + ")", 0);
    std::string select = "select t0.n";
    std::string from = " from #ten t0";
    for (int i = 1; i < joins; ++i) {
      select += ", t" + std::to_string(i) + ".n";
      from += ", #ten t" + std::to_string(i);
    }

    const auto start = std::chrono::steady_clock::now();
    const long long rows = Run(con, select + from, joins);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf(
        "sample server -> FreeTDS client: %lld rows of %d int columns in %.2f s: "
        "%.0f rows/s\n",
        rows, joins, seconds, rows / seconds);

    ct_close(con, CS_UNUSED);
    ct_con_drop(con);
    ct_exit(ctx, CS_FORCE_EXIT);
    cs_ctx_drop(ctx);
    server->Stop();
    std::filesystem::remove_all(data);
    return 0;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "benchmark failed: %s\n", e.what());
    return 1;
  }
}
