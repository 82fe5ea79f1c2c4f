// Rows per second bulk copy reaches against the sample server: freebcp copying a 1,000,000-row
// character file (int, varchar, char, int, numeric, datetime; some NULLs) in, in one batch and in
// batches of 100,000, and out again; and the same rows sent with blk_rowxfer from this process,
// where the client's own cost is smaller (freebcp 1.3.17 seeks in its input file for every field).
//
//   bench_bcp [rows=1000000]
#include "tds/sampleserver.h"

#include <bkpublic.h>
#include <ctpublic.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

namespace {

void Check(CS_RETCODE rc, const char* what) {
  if (rc != CS_SUCCEED) throw std::runtime_error(std::string(what) + " failed");
}

// Runs a batch without results worth keeping; throws when a statement fails.
void Run(CS_CONNECTION* con, const std::string& sql) {
  CS_COMMAND* cmd = nullptr;
  Check(ct_cmd_alloc(con, &cmd), "ct_cmd_alloc");
  Check(ct_command(cmd, CS_LANG_CMD, const_cast<char*>(sql.c_str()), CS_NULLTERM, CS_UNUSED),
        "ct_command");
  Check(ct_send(cmd), "ct_send");
  CS_INT type = 0;
  while (ct_results(cmd, &type) == CS_SUCCEED) {
    if (type == CS_CMD_FAIL) throw std::runtime_error("statement failed: " + sql);
    if (type == CS_ROW_RESULT) ct_cancel(nullptr, cmd, CS_CANCEL_CURRENT);
  }
  ct_cmd_drop(cmd);
}

// Runs freebcp and returns its wall time; throws unless it reports every row copied.
double Freebcp(const std::string& args, long long rows) {
  const std::string command = "freebcp " + args + " -S BENCH -U sa -P '' -c 2>&1";
  const auto start = std::chrono::steady_clock::now();
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) throw std::runtime_error("cannot run freebcp");
  std::string out;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
  ::pclose(pipe);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (out.find(std::to_string(rows) + " rows copied") == std::string::npos)
    throw std::runtime_error("freebcp " + args + ": " + out);
  return seconds;
}

// Copies `rows` rows in through the Bulk-Library from this process, values bound in their
// native types, committing every 100,000 rows; returns the wall time.
double BlkIn(CS_CONNECTION* con, const char* table, long long rows) {
  CS_BLKDESC* blk = nullptr;
  Check(blk_alloc(con, BLK_VERSION_100, &blk), "blk_alloc");
  Check(blk_init(blk, CS_BLK_IN, const_cast<char*>(table), CS_NULLTERM), "blk_init");
  CS_INT id = 0, n = 0, idLen = 4, nLen = 4, nameLen = 0, codeLen = 0, amountLen = 0, dLen = 8;
  CS_SMALLINT idInd = 0, nInd = 0, nameInd = 0, codeInd = 0, amountInd = 0, dInd = 0;
  char name[32], code[8], amount[16];
  CS_DATETIME d{};
  auto bind = [&](CS_INT col, CS_INT type, void* buf, CS_INT max, CS_INT* len, CS_SMALLINT* ind) {
    CS_DATAFMT f{};
    f.datatype = type;
    f.maxlength = max;
    f.count = 1;
    Check(blk_bind(blk, col, &f, buf, len, ind), "blk_bind");
  };
  bind(1, CS_INT_TYPE, &id, 4, &idLen, &idInd);
  bind(2, CS_CHAR_TYPE, name, sizeof name, &nameLen, &nameInd);
  bind(3, CS_CHAR_TYPE, code, sizeof code, &codeLen, &codeInd);
  bind(4, CS_INT_TYPE, &n, 4, &nLen, &nInd);
  bind(5, CS_CHAR_TYPE, amount, sizeof amount, &amountLen, &amountInd);
  bind(6, CS_DATETIME_TYPE, &d, 8, &dLen, &dInd);
  const auto start = std::chrono::steady_clock::now();
  CS_INT done = 0;
  long long total = 0;
  for (long long i = 1; i <= rows; ++i) {
    id = static_cast<CS_INT>(i);
    nameInd = i % 10 ? 0 : -1;
    nameLen = i % 10 ? std::snprintf(name, sizeof name, "customer %lld", i) : 0;
    codeLen = std::snprintf(code, sizeof code, "C%lld", i % 1000);
    n = static_cast<CS_INT>(i * 37 % 100003 - 50000);
    nInd = i % 7 ? 0 : -1;
    nLen = i % 7 ? 4 : 0;
    amountLen = std::snprintf(amount, sizeof amount, "%lld.%02lld", i % 100000, i % 100);
    d.dtdays = static_cast<CS_INT>(45000 + i % 365);
    d.dttime = static_cast<CS_INT>(i % 25920000);
    dInd = i % 5 ? 0 : -1;
    dLen = i % 5 ? 8 : 0;
    Check(blk_rowxfer(blk), "blk_rowxfer");
    if (i % 100000 == 0 && i < rows) {
      Check(blk_done(blk, CS_BLK_BATCH, &done), "blk_done");
      total += done;
    }
  }
  Check(blk_done(blk, CS_BLK_ALL, &done), "blk_done");
  total += done;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  blk_drop(blk);
  if (total != rows) throw std::runtime_error("blk copied " + std::to_string(total) + " rows");
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  const long long rows = argc > 1 ? std::atoll(argv[1]) : 1000000;
  if (rows < 1) {
    std::fprintf(stderr, "usage: %s [rows]\n", argv[0]);
    return 2;
  }
  try {
    const auto data =
        std::filesystem::temp_directory_path() / ("norv-bench-bcp-" + std::to_string(::getpid()));
    std::filesystem::create_directories(data);
    sampleserver::ServerOptions options;
    options.dataDir = data.string();
    auto server = sampleserver::SampleServer::Start(options);
    const auto conf = data / "freetds.conf";
    std::ofstream(conf) << "[global]\n\ttds version = 5.0\n\tclient charset = UTF-8\n[BENCH]\n"
                        << "\thost = 127.0.0.1\n\tport = " << server->Port() << "\n";
    ::setenv("FREETDSCONF", conf.c_str(), 1);

    const auto file = data / "rows.txt";
    {
      std::ofstream f(file, std::ios::binary);
      for (long long i = 1; i <= rows; ++i) {
        f << i << '\t';
        if (i % 10) f << "customer " << i;
        f << "\tC" << i % 1000 << '\t';
        if (i % 7) f << (i * 37 % 100003) - 50000;
        f << '\t' << i % 100000 << '.' << i % 100 / 10 << i % 10 << '\t';
        if (i % 5)
          f << "2024-0" << 1 + i % 9 << "-1" << i % 9 << " 1" << i % 10 << ":3" << i % 10
            << ":00.000";
        f << '\n';
      }
    }

    CS_CONTEXT* ctx = nullptr;
    Check(cs_ctx_alloc(CS_VERSION_100, &ctx), "cs_ctx_alloc");
    Check(ct_init(ctx, CS_VERSION_100), "ct_init");
    CS_CONNECTION* con = nullptr;
    Check(ct_con_alloc(ctx, &con), "ct_con_alloc");
    Check(ct_con_props(con, CS_SET, CS_USERNAME, const_cast<char*>("sa"), CS_NULLTERM, nullptr),
          "username");
    Check(ct_con_props(con, CS_SET, CS_PASSWORD, const_cast<char*>(""), CS_NULLTERM, nullptr),
          "password");
    Check(ct_connect(con, const_cast<char*>("BENCH"), CS_NULLTERM), "ct_connect");
    const std::string columns =
        "(id int not null, name varchar(30) null, code char(4) not null, n int null, "
        "amount numeric(12,2) not null, d datetime null)";
    Run(con, "create table bench_one " + columns);
    Run(con, "create table bench_batched " + columns);
    Run(con, "create table bench_blk " + columns);

    const double one = Freebcp("bench_one in " + file.string(), rows);
    std::printf("freebcp in, one batch:        %lld rows in %.2f s: %.0f rows/s\n", rows, one,
                rows / one);
    const double batched = Freebcp("bench_batched in " + file.string() + " -b 100000", rows);
    std::printf("freebcp in, batches of 100000: %lld rows in %.2f s: %.0f rows/s\n", rows, batched,
                rows / batched);
    const double blk = BlkIn(con, "bench_blk", rows);
    std::printf("blk_rowxfer in, batches of 100000: %lld rows in %.2f s: %.0f rows/s\n", rows, blk,
                rows / blk);
    const double out = Freebcp("bench_one out " + (data / "out.txt").string(), rows);
    std::printf("freebcp out:                  %lld rows in %.2f s: %.0f rows/s\n", rows, out,
                rows / out);

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
