// Draws the demonstration's main window as a user sees it after logging in as sa and pressing
// Execute, and with further files the table browser showing pubs2's authors, the object
// information window showing the script of pubs2's titles, the functions window after datediff
// and the bulk copy window after copying pubs2's titles out, and the trace monitor with what the
// object information window traced: usage
// norvscreenshot OUT.png [TABLE.png [INFO.png [FUNCTIONS.png [BULK.png [MONITOR.png]]]]]. The
// sample server runs
// in-process on a free port with throw-away databases, named SAMPLE in a temporary SQL.INI.
#include "connection/norvapplication.h"
#include "connection/norvdatabase.h"
#include "connection/norvlogin.h"
#include "controls/norvcombobox.h"
#include "controls/norvlistbox.h"
#include "dataset/norvtable.h"
#include "monitorwindow.h"
#include "tds/sampleserver.h"
#include "u_bulkcopy.h"
#include "u_functions.h"
#include "u_info.h"
#include "u_main.h"
#include "u_norvtable.h"

#include <QAction>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPixmap>
#include <QPushButton>
#include <QSplitter>
#include <QTemporaryDir>
#include <QTimer>
#include <QUuid>

#include <cstdio>
#include <exception>
#include <memory>

namespace {

// Keeps the event loop turning for `ms` milliseconds, so that layouts settle and the grid paints.
void Settle(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) QApplication::processEvents(QEventLoop::AllEvents, 20);
}

void WriteSqlIni(const QTemporaryDir& sybase, uint16_t port) {
  QDir(sybase.path()).mkpath(QStringLiteral("INI"));
  QFile ini(sybase.filePath(QStringLiteral("INI/SQL.INI")));
  if (!ini.open(QIODevice::WriteOnly | QIODevice::Truncate))
    throw std::runtime_error("cannot write SQL.INI");
  ini.write(QStringLiteral("[SAMPLE]\nquery=TCP,127.0.0.1,%1\n").arg(port).toUtf8());
}

}  // namespace

int main(int argc, char** argv) {
  NorvApplication app(argc, argv);
  if (argc < 2 || argc > 7) {
    std::fprintf(stderr,
                 "usage: norvscreenshot OUT.png [TABLE.png [INFO.png [FUNCTIONS.png [BULK.png "
                 "[MONITOR.png]]]]]\n");
    return 2;
  }
  const QString out = QString::fromLocal8Bit(argv[1]);
  try {
    QTemporaryDir sybase;
    sampleserver::ServerOptions options;
    options.dataDir = sybase.filePath(QStringLiteral("data")).toStdString();
    auto server = sampleserver::SampleServer::Start(options);
    WriteSqlIni(sybase, server->Port());
    // Read by the window's connection when it is created.
    qputenv("SYBASE", sybase.path().toUtf8());
    // The monitor listens from the start, on a socket of its own so a running one is left alone.
    std::unique_ptr<MonitorWindow> monitor;
    if (argc >= 7) {
      const QString socket = "norvscreenshot-" + QUuid::createUuid().toString(QUuid::Id128);
      qputenv("NORV_MONITOR_SOCKET", socket.toUtf8());
      monitor = std::make_unique<MonitorWindow>();
      if (!monitor->Listen(socket)) throw std::runtime_error("the monitor cannot listen");
    }

    auto window = std::make_unique<Tf_main>();
    // A screen without a window manager does not maximise: give it a roomy size instead.
    window->resize(1040, 660);
    window->show();
    if (monitor) window->db->SetMonitor(true);  // the login and the statements traced too
    Settle(200);

    // The real login dialog comes up modally; press its OK as the user would.
    QTimer pressOk;
    QObject::connect(&pressOk, &QTimer::timeout, [&] {
      if (auto* dialog = qobject_cast<TNorvPasswordDlg*>(QApplication::activeModalWidget())) {
        pressOk.stop();
        dialog->OKBtn->click();
      }
    });
    pressOk.start(50);
    window->btn_connect->click();
    if (!window->db->Connected()) throw std::runtime_error("the login to the sample server failed");
    window->btn_execute->click();
    // Drag the splitter down, as a user would, so that the listing reaches the catalog rows.
    window->Splitter1->setSizes({400, 100});
    Settle(500);

    if (!window->grab().save(out, "PNG")) throw std::runtime_error("cannot write the picture");
    if (argc >= 3) {
      // The table browser over pubs2's authors, opened as the user opens it.
      window->db->SetDBName(QStringLiteral("pubs2"));
      Tf_tnorvtable browser(window.get());
      browser.show();
      browser.cb_tables->setCurrentIndex(browser.cb_tables->findText(QStringLiteral("authors")));
      browser.btn_openclose->click();
      if (!browser.Table1->Active()) throw std::runtime_error("the table did not open");
      Settle(500);
      if (!browser.grab().save(QString::fromLocal8Bit(argv[2]), "PNG"))
        throw std::runtime_error("cannot write the table picture");
      browser.btn_close->click();
    }
    if (argc >= 4) {
      // The object information window: pubs2's user tables, and the script of titles.
      Tf_info info(window.get());
      info.resize(980, 380);  // wide enough for a script line
      info.show();
      info.PopupItems[3]->trigger();  // User Tables
      const auto titles = info.lb_objects->findItems(QStringLiteral("titles"), Qt::MatchExactly);
      if (titles.isEmpty()) throw std::runtime_error("the table list has no titles");
      info.lb_objects->setCurrentItem(titles.first());
      info.Button1->click();
      Settle(500);
      if (!info.grab().save(QString::fromLocal8Bit(argv[3]), "PNG"))
        throw std::runtime_error("cannot write the object information picture");
      info.btn_close->click();
    }
    if (argc >= 5) {
      // The functions window after its datediff button, with the statement it sent.
      Tf_functions functions(window.get());
      functions.show();
      functions.Button4->click();
      if (functions.e_result->text() != QStringLiteral("29"))
        throw std::runtime_error("datediff did not answer 29");
      Settle(300);
      if (!functions.grab().save(QString::fromLocal8Bit(argv[4]), "PNG"))
        throw std::runtime_error("cannot write the functions picture");
      functions.Button24->click();
    }
    if (argc >= 6) {
      // The bulk copy window after copying pubs2's titles out to a file in the scratch folder,
      // named as a user would type it.
      const QString picture = QFileInfo(QString::fromLocal8Bit(argv[5])).absoluteFilePath();
      QDir::setCurrent(sybase.path());
      window->db->SetDBName(QStringLiteral("pubs2"));
      Tf_bulkcopy bulk(window.get());
      bulk.show();
      const auto titles = bulk.lb_tablename->findItems(QStringLiteral("titles"), Qt::MatchExactly);
      if (titles.isEmpty()) throw std::runtime_error("pubs2 has no titles table");
      bulk.lb_tablename->setCurrentItem(titles.front());
      bulk.e_file->setText(QStringLiteral("titles.bcp"));
      bulk.btn_copy->click();
      if (bulk.e_cnt->text().toInt() <= 0) throw std::runtime_error("the bulk copy sent no rows");
      Settle(300);
      if (!bulk.grab().save(picture, "PNG"))
        throw std::runtime_error("cannot write the bulk copy picture");
      bulk.btn_close->click();
    }
    if (monitor) {
      monitor->resize(1040, 260);
      monitor->show();
      Settle(300);
      monitor->Flush();
      if (monitor->ShownText().isEmpty()) throw std::runtime_error("the monitor received nothing");
      Settle(200);
      if (!monitor->grab().save(QString::fromLocal8Bit(argv[6]), "PNG"))
        throw std::runtime_error("cannot write the monitor picture");
    }
    window->btn_close->click();
    window.reset();
    server->Stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "norvscreenshot: %s\n", e.what());
    return 1;
  }
  std::printf("%s\n", qPrintable(out));
  for (int i = 2; i < argc; ++i) std::printf("%s\n", argv[i]);
  return 0;
}
