#include "catalog/norvobjinfo.h"

#include "connection/norvdatabase.h"
#include "connection/norvexception.h"
#include "query/norvquery.h"

namespace {

const QString kNotSourceObject =
    QStringLiteral("Object is not a Stored Procedure, View ,Trigger, Default or Rule!");
const QString kNoData = QStringLiteral("/* Data not available */");
const QString kLostConnection = QStringLiteral("Connection to the server was lost");
constexpr int kObjectNameWidth = 60;
constexpr int kVarcharUserType = 2;
constexpr int kSysnameUserType = 18;

// A table name as a statement may hold it outside a literal: up to three dot-separated parts
// (database, owner, table), the last one not empty, each of identifier characters only. Blanks
// around the whole name are allowed, as the name is not trimmed.
bool IsTableName(const QString& name) {
  const QStringList parts = name.trimmed().split(QLatin1Char('.'));
  if (parts.size() > 3 || parts.last().isEmpty()) return false;
  for (const QString& part : parts)
    for (QChar c : part)
      if (!c.isLetterOrNumber() && c != QLatin1Char('_') && c != QLatin1Char('#') &&
          c != QLatin1Char('@') && c != QLatin1Char('$'))
        return false;
  return true;
}

}  // namespace

TNorvObjInfo::TNorvObjInfo(QObject* owner) : TNorvBase(owner) {}

TNorvObjInfo::~TNorvObjInfo() = default;

QString TNorvObjInfo::PadRight(const QString& text, QChar fill, int width) {
  return text.size() >= width ? text : text.leftJustified(width, fill);
}

std::unique_ptr<TNorvQuery> TNorvObjInfo::MakeListQuery() const {
  auto query = MakeQuery();
  query->SetTrimResults(true);
  return query;
}

bool TNorvObjInfo::ConnectionLost() const {
  const TNorvDatabase* db = FindDatabase(DbName());
  if (!db || !db->Connected()) return false;  // closed by the application: nothing failed
  oc::Connection* con = db->Handle();
  CS_INT alive = CS_FALSE;
  return !con ||
         oc::ct_con_props(con, CS_GET, CS_LOGIN_STATUS, &alive, CS_UNUSED, nullptr) != CS_SUCCEED ||
         alive != CS_TRUE;
}

QString TNorvObjInfo::Rdbms() const {
  const TNorvDatabase* db = FindDatabase(DbName());
  return db ? db->Rdbms() : QString();
}

QStringList& TNorvObjInfo::Collect(const QString& sql, bool traceAfterExecute) {
  CheckDbName(DbName());
  resultList_.clear();
  auto query = MakeListQuery();
  query->SetSql(sql);
  if (!traceAfterExecute) MonitorLog(QStringLiteral("SQL Execute: ") + sql);
  query->Execute();
  if (traceAfterExecute) MonitorLog(QStringLiteral("SQL Execute: ") + sql);
  while (query->Next()) resultList_.append(query->FieldValue(1));
  return resultList_;
}

QStringList& TNorvObjInfo::GetDatabases() {
  return Collect(QStringLiteral("SELECT name FROM master..sysdatabases ORDER BY name"), true);
}

QStringList& TNorvObjInfo::GetObjectNames(const QString& ObjType) {
  const QString type = ObjType.left(2).toUpper().trimmed();
  return Collect(QStringLiteral("SELECT name FROM ") + catalogPrefix_ +
                 QStringLiteral("sysobjects WHERE type = ") + SqlLiteral(type) +
                 QStringLiteral(" ORDER BY name"));
}

QStringList& TNorvObjInfo::GetUsers() {
  return Collect(QStringLiteral("SELECT name FROM ") + catalogPrefix_ +
                 QStringLiteral("sysusers WHERE gid<>uid ORDER BY name"));
}

QStringList& TNorvObjInfo::GetGroups() {
  return Collect(QStringLiteral("SELECT name FROM ") + catalogPrefix_ +
                 QStringLiteral("sysusers WHERE gid=uid ORDER BY name"));
}

QStringList& TNorvObjInfo::GetSystemDatatypes() {
  return Collect(QStringLiteral("SELECT name FROM ") + catalogPrefix_ +
                 QStringLiteral("systypes WHERE usertype < 100 ORDER BY name"));
}

QStringList& TNorvObjInfo::GetUserDatatypes() {
  return Collect(QStringLiteral("SELECT name FROM ") + catalogPrefix_ +
                 QStringLiteral("systypes WHERE usertype > 100 ORDER BY name"));
}

QStringList& TNorvObjInfo::GetSegments() {
  return Collect(QStringLiteral("SELECT name FROM ") + catalogPrefix_ +
                 QStringLiteral("syssegments ORDER BY name"));
}

QString TNorvObjInfo::IndexNamesSql() const {
  const QString& p = catalogPrefix_;
  return QStringLiteral("SELECT so.name + '.' + si.name FROM ") + p +
         QStringLiteral("sysobjects so,") + p +
         QStringLiteral(
             "sysindexes si WHERE so.id = si.id  AND si.indid<> 0 AND so.type IN ('U','S') "
             "ORDER BY so.name,si.indid");
}

QStringList& TNorvObjInfo::GetIndexNames() {
  CheckDbName(DbName());
  if (Rdbms() == RdbmsText(TRdbms::SqlAnywhere))
    return Collect(QStringLiteral(
        "SELECT trim(st.table_name + '.' + si.index_name) FROM SYSINDEX si, SYSTABLE st WHERE "
        "st.table_id = si.table_id ORDER BY si.index_id"));
  return Collect(IndexNamesSql());
}

QStringList& TNorvObjInfo::GetIndexColumns(const QString& IndexName) {
  CheckDbName(DbName());
  const QString& p = catalogPrefix_;
  QString sql = IndexNamesSql();
  const QString rdbms = Rdbms();
  if (rdbms == RdbmsText(TRdbms::SybaseSqlServer)) {
    sql = QStringLiteral("SELECT INDEX_COL(so.name , x.indid, c.colid) FROM ") + p +
          QStringLiteral("sysindexes x, ") + p + QStringLiteral("syscolumns c, ") + p +
          QStringLiteral(
              "sysobjects so WHERE x.id = object_id (so.name) AND indid BETWEEN 1 AND 254"
              " AND x.id = c.id AND so.id = x.id AND c.colid <= x.keycnt"
              " AND INDEX_COL(so.name, x.indid, c.colid)<>'' AND so.name + '.' + x.name = ") +
          SqlLiteral(IndexName) + QStringLiteral(" ORDER BY x.name, x.indid, c.colid ASC");
  } else if (rdbms == RdbmsText(TRdbms::SqlAnywhere)) {
    sql = QStringLiteral(
              "SELECT sc.column_name FROM SYSTABLE st, SYSIXCOL sic, SYSCOLUMN sc, SYSINDEX si"
              " WHERE st.table_id = sc.table_id AND si.table_id = sc.table_id"
              " AND si.index_id = sic.index_id AND sc.table_id = sic.table_id"
              " AND sc.column_id = sic.column_id AND st.table_name + '.' + si.index_name = ") +
          SqlLiteral(IndexName) + QStringLiteral(" ORDER BY sequence");
  }
  return Collect(sql);
}

void TNorvObjInfo::GetObjectText(const QString& ObjName, QString& Text) {
  CheckDbName(DbName());
  const QString name = ObjName.left(kObjectNameWidth).trimmed();
  auto query = MakeQuery();

  const QString typeSql = QStringLiteral("SELECT type FROM ") + catalogPrefix_ +
                          QStringLiteral("sysobjects WHERE name = ") + SqlLiteral(name);
  query->SetSql(typeSql);
  MonitorLog(QStringLiteral("SQL Execute: ") + typeSql);
  query->Execute();
  QString type;
  while (query->Next()) type = query->FieldValue(1).trimmed().left(2);
  static const QStringList kSourceTypes = {QStringLiteral("P"), QStringLiteral("V"),
                                           QStringLiteral("R"), QStringLiteral("D"),
                                           QStringLiteral("TR")};
  if (!kSourceTypes.contains(type)) throw ENorvException(kNotSourceObject);

  const QString textSql = QStringLiteral("SELECT text FROM ") + catalogPrefix_ +
                          QStringLiteral("syscomments WHERE id=object_id(") +
                          SqlLiteral(catalogPrefix_ + name) + QLatin1Char(')');
  query->SetSql(textSql);
  MonitorLog(QStringLiteral("SQL Execute: ") + textSql);
  query->Execute();
  QString text;
  while (query->Next()) text += query->FieldValue(1);
  Text = text.trimmed();
}

QStringList& TNorvObjInfo::GetTableScript(const QString& TableName) {
  CheckDbName(DbName());
  resultList_.clear();
  const QString table = TableName.left(kObjectNameWidth);
  if (!IsTableName(table)) throw ENorvException(QStringLiteral("Not a table name: ") + table);

  auto query = MakeListQuery();
  const QString sql =
      QStringLiteral("SELECT * FROM ") + catalogPrefix_ + table + QStringLiteral(" WHERE 1=2");
  query->SetSql(sql);
  MonitorLog(QStringLiteral("SQL Execute: ") + sql);
  query->DescribeColumns();

  const int count = query->ColumnCount();
  // The describe passes over a connection that went away; that is a failure, not a table
  // without columns.
  if (count <= 0 && ConnectionLost()) throw ENorvException(kLostConnection);
  if (count <= 0) {
    resultList_.append(kNoData);
    return resultList_;
  }
  resultList_.append(QStringLiteral("CREATE TABLE ") + catalogPrefix_ + table);
  resultList_.append(QStringLiteral("("));
  for (int i = 1; i <= count; ++i) {
    QString line = QLatin1Char(' ') + PadRight(query->FieldName(i), QLatin1Char(' '), 30);
    QString typeName = query->FieldTypeName(i);
    // Client-Library describes char and varchar alike; the user type tells them apart, and a
    // varchar column written as char would come back blank-padded.
    if (typeName == QLatin1String("char") && (query->FieldUserType(i) == kVarcharUserType ||
                                              query->FieldUserType(i) == kSysnameUserType))
      typeName = QStringLiteral("varchar");
    line += query->FieldIsTimestamp(i) ? QStringLiteral("timestamp") : typeName;
    if (typeName == QLatin1String("char") || typeName == QLatin1String("varchar"))
      line += QStringLiteral("(%1)").arg(query->FieldMaxLength(i));
    if (typeName == QLatin1String("numeric") || typeName == QLatin1String("decimal"))
      line += QStringLiteral("(%1,%2)").arg(query->FieldPrecision(i)).arg(query->FieldScale(i));
    if (query->FieldIsIdentity(i)) line += QStringLiteral(" identity");
    while (line.endsWith(QLatin1Char(' '))) line.chop(1);
    line = PadRight(line, QLatin1Char(' '), 60);
    line += query->FieldIsNullable(i) ? QStringLiteral("NULL") : QStringLiteral("NOT NULL");
    while (line.endsWith(QLatin1Char(' '))) line.chop(1);
    if (i < count) line += QLatin1Char(',');
    resultList_.append(line);
  }
  resultList_.append(QStringLiteral(")"));
  return resultList_;
}
