#include "reply_flows.h"

#include "bulk/norvbulk.h"
#include "connection/norvdatabase.h"
#include "dataset/framework/field.h"
#include "dataset/norvsqldataset.h"
#include "query/norvquery.h"

#include <QDir>
#include <QFile>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <exception>

namespace norvfuzz {
namespace {

// Bounds on what one input may make a flow do, so that no input runs long.
constexpr int kMaxRows = 200;
constexpr size_t kMaxReplies = 64;

struct QueryCase {
  const char* sql;
  bool textImage = false;
  bool cursor = false;
  int maxRows = 0;
};

// Statements whose replies cover the result kinds: rows of every datatype, NULLs, several result
// sets, compute rows, procedure status and output parameters, server errors and informational
// messages, text and image read piecewise, a cursor and a row limit.
const QueryCase kQueries[] = {
    {"select * from fz_types"},
    {"select 1/0"},
    {"select a = 1 select b = 'x', c = 2.5 from fz_rows where n < 3"},
    {"declare @o int exec fz_proc 3, @o output select @o"},
    {"print 'fz message' select n, s from fz_rows where n < 4 order by n compute sum(n)"},
    {"select t, i from fz_types", true},
    {"select * from fz_types", false, true},
    {"set nocount on select n from fz_rows", false, false, 2},
    {"select * from no_such_table"},
    {"raiserror 20001 'fz error' select 1"},
    {"begin tran insert fz_rows values (100, 'x') rollback tran"},
};

const char* const kDataSetSql[] = {
    // Every type a data set's fields take (binary, text, image and bigint columns it refuses).
    "select i, si, ti, b, c, vc, nm, dc, f, r, m, sm, dt, sdt from fz_types",
    "select n, s from fz_rows order by n",
    "select * from no_such_table",
    "select 1/0",
};

struct BulkCase {
  const char* table;
  const char* inFile;  // the data file a copy-in reads
  TFormat format = bcCharacter;
};

const BulkCase kBulk[] = {
    {"fz_types",
     "1\t2\t3\t1\tab\tcd\t1.50\t2.2500\t1.5\t2.5\t3.10\t4.20\tJan 1 2020 10:00AM\tJan 1 2020 "
     "10:00AM\t0x01\t0x0203\thello\t0x0a\t42\r\n"},
    {"fz_rows", "1\tone\r\n2\ttwo\r\n3\t\r\n"},
    {"no_such_table", "1\r\n"},
    {"fz_rows", "1,one\r\n2,two\r\n", bcNone},
};

// NORV_FUZZ_VERBOSE=1: each flow says what it read and which error ended it, to triage an input.
bool Verbose() {
  static const bool verbose = qEnvironmentVariableIntValue("NORV_FUZZ_VERBOSE") != 0;
  return verbose;
}

void Note(const char* what, const std::exception* error = nullptr, long count = -1) {
  if (!Verbose()) return;
  std::fprintf(stderr, "[fuzz] %s", what);
  if (count >= 0) std::fprintf(stderr, " %ld", count);
  if (error) std::fprintf(stderr, ": %s", error->what());
  std::fputc('\n', stderr);
}

template <typename T, size_t N>
const T& Pick(const T (&cases)[N], uint8_t flowByte) {
  return cases[(flowByte >> 2) % N];
}

void RunQuery(uint8_t flowByte) {
  const QueryCase& c = Pick(kQueries, flowByte);
  TNorvQuery query;
  query.SetDbName(QString::fromLatin1(kDbName));
  query.SetSql(QString::fromLatin1(c.sql));
  query.SetTextImage(c.textImage);
  query.SetIsCursor(c.cursor);
  query.SetMaxRows(c.maxRows);
  try {
    if (query.Execute() != CS_SUCCEED) return Note("query: not executed");
    int rows = 0;
    for (; rows < kMaxRows && query.Fetch() == 1; ++rows)
      for (int col = 1; col <= query.ColumnCount(); ++col) {
        (void)query.FieldValue(col).size();
        (void)query.FieldIsNull(col);
        (void)query.FieldTypeName(col);
      }
    Note("query: rows", nullptr, rows);
    query.CloseResults();
  } catch (const std::exception& e) {
    Note("query", &e);
  }
}

void ReadFields(const TNorvSqlDataSet& ds) {
  for (TField* field : ds.Fields()) {
    (void)field->AsString();
    (void)field->DisplayText();
    (void)field->IsNull();
  }
}

void RunDataSet(uint8_t flowByte) {
  TNorvSqlDataSet ds;
  ds.SetDbName(QString::fromLatin1(kDbName));
  ds.SetSql(QString::fromLatin1(Pick(kDataSetSql, flowByte)));
  try {
    ds.Open();
    // Forward, to the end, back and by a jump, as a grid's scroll bar moves it.
    for (int i = 0; i < 3 && !ds.Eof(); ++i) {
      ReadFields(ds);
      ds.Next();
    }
    ds.Last();
    ReadFields(ds);
    ds.Prior();
    ds.MoveBy(-5);
    ReadFields(ds);
    ds.First();
    ReadFields(ds);
    Note("data set: records", nullptr, ds.RecordCount());
  } catch (const std::exception& e) {
    Note("data set", &e);
  }
  try {
    ds.Close();
  } catch (const std::exception&) {
  }
}

void RunBulk(uint8_t flowByte, bool in, const QString& scratch) {
  const BulkCase& c = Pick(kBulk, flowByte);
  const QString file = QDir(scratch).filePath(QStringLiteral("bulk.dat"));
  QFile::remove(file);
  if (in) {
    QFile data(file);
    if (!data.open(QIODevice::WriteOnly)) return;
    data.write(c.inFile);
  }
  TNorvBulk bulk;
  bulk.SetDbName(QString::fromLatin1(kDbName));
  bulk.SetBackground(false);
  bulk.SetDirection(in ? bdIn : bdOut);
  bulk.SetFormat(c.format);
  bulk.SetFieldTerminator(QStringLiteral(","));
  bulk.SetBatchSize(2);
  bulk.SetTableName(QString::fromLatin1(c.table));
  bulk.SetDataFile(file);
  try {
    bulk.BulkCopy();
    Note("bulk copy: rows copied", nullptr, bulk.RowsCopied());
  } catch (const std::exception& e) {
    Note("bulk copy", &e);
  }
}

}  // namespace

size_t PacketPayloadFromByte(uint8_t value) { return value == 0 ? 512 - kHeaderSize : value; }

Script ParseInput(const uint8_t* data, size_t size) {
  Script script;
  if (size > 0) script.flow = data[0];
  if (size > 1) script.flags = data[1];
  size_t pos = 2;
  while (pos < size && script.replies.size() < kMaxReplies) {
    Reply reply;
    reply.packetPayload = PacketPayloadFromByte(data[pos++]);
    size_t length = 0;
    if (pos < size) length = data[pos++];
    if (pos < size) length |= static_cast<size_t>(data[pos++]) << 8;
    length = std::min(length, size - pos);
    reply.stream.assign(data + pos, data + pos + length);
    pos += length;
    script.replies.push_back(std::move(reply));
  }
  return script;
}

std::vector<uint8_t> EncodeScript(const Script& script) {
  std::vector<uint8_t> out{script.flow, script.flags};
  for (const Reply& reply : script.replies) {
    // A recorded reply longer than 64 KiB is cut; seeds stay small anyway.
    const size_t length = std::min<size_t>(reply.stream.size(), 0xffff);
    out.push_back(reply.packetPayload >= 256 ? 0 : static_cast<uint8_t>(reply.packetPayload));
    out.push_back(static_cast<uint8_t>(length & 0xff));
    out.push_back(static_cast<uint8_t>(length >> 8));
    out.insert(out.end(), reply.stream.begin(), reply.stream.begin() + length);
  }
  return out;
}

std::vector<uint8_t> FramePackets(const std::vector<uint8_t>& stream, size_t payload) {
  std::vector<uint8_t> out;
  payload = std::max<size_t>(payload, 1);
  size_t pos = 0;
  uint8_t number = 1;
  do {
    const size_t n = std::min(payload, stream.size() - pos);
    const bool last = pos + n == stream.size();
    const size_t length = n + kHeaderSize;
    const uint8_t header[kHeaderSize] = {kPacketReply,
                                         last ? kStatusEom : uint8_t{0},
                                         static_cast<uint8_t>(length >> 8),
                                         static_cast<uint8_t>(length & 0xff),
                                         0,
                                         0,
                                         number++,
                                         0};
    out.insert(out.end(), header, header + kHeaderSize);
    out.insert(out.end(), stream.begin() + pos, stream.begin() + pos + n);
    pos += n;
  } while (pos < stream.size());
  return out;
}

namespace {
bool ReadExact(int fd, uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::recv(fd, data, size, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}
}  // namespace

bool ReadMessage(int fd, std::vector<uint8_t>* payload, std::vector<uint8_t>* raw) {
  for (;;) {
    uint8_t header[kHeaderSize];
    if (!ReadExact(fd, header, kHeaderSize)) return false;
    const size_t length = static_cast<size_t>(header[2]) << 8 | header[3];
    if (length < kHeaderSize) return false;
    std::vector<uint8_t> body(length - kHeaderSize);
    if (!ReadExact(fd, body.data(), body.size())) return false;
    if (raw) {
      raw->insert(raw->end(), header, header + kHeaderSize);
      raw->insert(raw->end(), body.begin(), body.end());
    }
    if (payload) payload->insert(payload->end(), body.begin(), body.end());
    if (header[1] & kStatusEom) return true;
  }
}

bool WriteAll(int fd, const uint8_t* data, size_t size) {
  while (size > 0) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

std::unique_ptr<TNorvDatabase> Connect(const QString& server) {
  auto db = std::make_unique<TNorvDatabase>();
  try {
    db->SetName(QString::fromLatin1(kDbName));
    db->SetServerName(server);
    db->SetUserName(QStringLiteral("sa"));
    db->SetLoginPrompt(false);
    db->SetConProps({cpBulk_Login});
    db->SetConnected(true);
  } catch (const std::exception&) {
    return nullptr;
  }
  if (!db->Connected()) return nullptr;
  return db;
}

void RunFlow(uint8_t flowByte, const QString& scratch) {
  switch (flowByte & 3) {
    case kQuery: RunQuery(flowByte); break;
    case kDataSet: RunDataSet(flowByte); break;
    case kBulkOut: RunBulk(flowByte, false, scratch); break;
    default: RunBulk(flowByte, true, scratch); break;
  }
}

const std::vector<const char*>& SetupStatements() {
  static const std::vector<const char*> statements = {
      "create table fz_types (i int null, si smallint null, ti tinyint null, b bit not null, "
      "c char(10) null, vc varchar(20) null, nm numeric(10,2) null, dc decimal(12,4) null, "
      "f float null, r real null, m money null, sm smallmoney null, dt datetime null, "
      "sdt smalldatetime null, bn binary(4) null, vb varbinary(8) null, t text null, "
      "im image null, bi bigint null)",
      "insert fz_types values (1, 2, 3, 1, 'abc', 'defg', 12.34, 5.6789, 1.5e10, 2.25, "
      "$12.3456, $7.89, 'Dec 31 1999 11:59:59PM', 'Jan 1 2000 12:00AM', 0x01020304, 0x0a0b, "
      "'a text value', 0x0c0d0e, 9000000000)",
      "insert fz_types values (-2147483648, -32768, 0, 0, '', '', -99999999.99, 0, -1.0e-300, "
      "0, -922337203685477.5808, -214748.3648, 'Jan 1 1753 12:00AM', 'Jun 6 2079 11:59PM', "
      "0x00, 0x, '', 0x, -9223372036854775808)",
      "insert fz_types values (null, null, null, 0, null, null, null, null, null, null, null, "
      "null, null, null, null, null, null, null, null)",
      "create table fz_rows (n int not null, s varchar(10) null)",
      "insert fz_rows values (1, 'one') insert fz_rows values (2, 'two') "
      "insert fz_rows values (3, null) insert fz_rows values (4, 'four') "
      "insert fz_rows values (5, 'five') insert fz_rows values (6, 'six')",
      "create procedure fz_proc @n int, @o int output as select @o = @n * 2 "
      "select n from fz_rows where n <= @n return 7",
  };
  return statements;
}

}  // namespace norvfuzz
