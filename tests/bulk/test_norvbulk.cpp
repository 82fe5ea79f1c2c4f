// The bulk copy component against the sample server: files written from tables and tables
// filled from files, in each format, with the row window, batches, events and the faults a plain
// text file cannot carry.
#include "bulk_fixture.h"

namespace norvtest {
namespace {

TEST_F(BulkTest, EveryTableCopiesOutAndBackInUnchanged) {
  const char* tables[] = {"authors",   "titles",   "publishers",  "sales",  "salesdetail", "stores",
                          "discounts", "roysched", "titleauthor", "blurbs", "au_pix"};
  for (const char* name : tables) {
    SCOPED_TRACE(name);
    const QString source = QStringLiteral("pubs2..") + QLatin1String(name);
    const QString copy = source + QStringLiteral("_blk");
    const QString file = QLatin1String(name) + QStringLiteral(".txt");
    Run({QStringLiteral("if object_id('%1') is not null drop table %1")
             .arg(copy)
             .toUtf8()
             .constData()});
    Run({QStringLiteral("select * into %1 from %2 where 1=0")
             .arg(copy, source)
             .toUtf8()
             .constData()});
    auto out = Bulk(bdOut, source, file);
    out->BulkCopy();
    const Rows rows = Query(QStringLiteral("select * from ") + source);
    EXPECT_EQ(out->RowsCopied(), rows.size());
    auto in = Bulk(bdIn, copy, file);
    in->BulkCopy();
    EXPECT_EQ(in->RowsCopied(), rows.size());
    EXPECT_EQ(Query(QStringLiteral("select * from ") + copy), rows);
    auto again = Bulk(bdOut, copy, file + QStringLiteral(".2"));
    again->BulkCopy();
    EXPECT_EQ(Read(file + QStringLiteral(".2")), Read(file));
  }
}

}  // namespace
}  // namespace norvtest
