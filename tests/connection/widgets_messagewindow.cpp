// The message window, rendered off screen.
#include "connection/norvmessage.h"

#include <gtest/gtest.h>
#include <QApplication>
#include <QClipboard>
#include <QDeadlineTimer>
#include <QDialog>
#include <QFile>
#include <QFontInfo>
#include <QFrame>
#include <QImage>
#include <QKeyEvent>
#include <QPrinter>
#include <QPushButton>
#include <QScreen>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextEdit>
#include <QToolBar>
#include <QToolButton>

#include "widget_helpers.h"

#include <functional>

namespace {

using norvtest::ProcessUntil;
using norvtest::ShowActive;

using norv::PanelColour;

const QString kLongLine = QStringLiteral(
    "Msg 207, Level 16, State 4: Server 'SYB', Line 1: Invalid column name 'nosuchcolumn' in a "
    "line far wider than the window");
const QString kText = kLongLine + QStringLiteral("\nsecond line\n\tthird line, tabbed");

template <class T>
T* Child(const QWidget& parent, const char* name) {
  T* child = parent.findChild<T*>(QString::fromLatin1(name));
  EXPECT_NE(child, nullptr) << name;
  return child;
}

class MessageWindowTest : public ::testing::Test {
 protected:
  Tf_norv_message window_;
};

TEST_F(MessageWindowTest, HasItsControlsUnderTheirNames) {
  EXPECT_EQ(window_.objectName(), "f_norv_message");
  EXPECT_EQ(window_.windowTitle(), "CT-Library message");
  const struct {
    const char* name;
    const char* hint;
  } tools[] = {{"btn_copy", "Copy"}, {"btn_selectall", "Select all"}, {"btn_print", "Print"}};
  for (const auto& tool : tools) {
    SCOPED_TRACE(tool.name);
    auto* button = Child<QToolButton>(window_, tool.name);
    ASSERT_NE(button, nullptr);
    EXPECT_EQ(button->toolTip(), tool.hint);
    EXPECT_FALSE(button->icon().isNull());
    EXPECT_EQ(button->parentWidget(), Child<QToolBar>(window_, "ToolBar1"));
  }
  auto* ok = Child<QPushButton>(window_, "btn_close");
  ASSERT_NE(ok, nullptr);
  EXPECT_EQ(ok->text(), "OK");
  EXPECT_TRUE(ok->isDefault());
  EXPECT_EQ(ok->parentWidget(), Child<QFrame>(window_, "pn_bottom"));
}

TEST_F(MessageWindowTest, LayoutFillsAFixedClientArea) {
  window_.show();
  QApplication::processEvents();
  EXPECT_EQ(window_.size(), QSize(393, 252));
  EXPECT_EQ(window_.minimumSize(), QSize(393, 252));
  EXPECT_EQ(window_.maximumSize(), QSize(393, 252));

  auto* bar = Child<QToolBar>(window_, "ToolBar1");
  auto* text = Child<QTextEdit>(window_, "m_message");
  auto* bottom = Child<QFrame>(window_, "pn_bottom");
  auto* ok = Child<QPushButton>(window_, "btn_close");
  ASSERT_TRUE(bar && text && bottom && ok);
  EXPECT_EQ(bar->geometry(), QRect(0, 0, 393, 29));
  EXPECT_EQ(text->geometry(), QRect(0, 29, 393, 252 - 29 - 36));
  EXPECT_EQ(bottom->geometry(), QRect(0, 252 - 36, 393, 36));
  EXPECT_EQ(bottom->frameShape(), QFrame::NoFrame);
  EXPECT_EQ(ok->size(), QSize(75, 25));
  EXPECT_NEAR(ok->geometry().center().x(), bottom->width() / 2, 1);
  EXPECT_NEAR(ok->geometry().center().y(), bottom->height() / 2, 1);
}

TEST_F(MessageWindowTest, IsCentredOnTheScreen) {
  const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
  EXPECT_NEAR(window_.geometry().center().x(), area.center().x(), 2);
  EXPECT_NEAR(window_.geometry().center().y(), area.center().y(), 2);
  // Even with an owner elsewhere on the screen.
  QWidget owner;
  owner.setGeometry(area.left() + 10, area.top() + 10, 100, 100);
  Tf_norv_message owned(&owner);
  owned.show();
  EXPECT_NEAR(owned.geometry().center().x(), area.center().x(), 2);
  EXPECT_NEAR(owned.geometry().center().y(), area.center().y(), 2);
}

TEST_F(MessageWindowTest, TextBoxIsMonospacedUnwrappedAndReadOnly) {
  auto* text = Child<QTextEdit>(window_, "m_message");
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(text->isReadOnly());
  EXPECT_EQ(text->lineWrapMode(), QTextEdit::NoWrap);
  EXPECT_EQ(text->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_EQ(text->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOn);
  EXPECT_FALSE(text->focusPolicy() & Qt::TabFocus);
  EXPECT_EQ(text->viewport()->cursor().shape(), Qt::ArrowCursor);
  EXPECT_EQ(text->font().family(), "Courier New");
  EXPECT_TRUE(QFontInfo(text->font()).fixedPitch())
      << QFontInfo(text->font()).family().toStdString();
  EXPECT_EQ(text->font().pointSize(), 9);

  // Rich text is shown as typed, and a long line scrolls instead of wrapping.
  window_.SetMessage("c", QStringLiteral("<b>bold?</b>\n") + kLongLine, PanelColour::ButtonFace);
  EXPECT_EQ(text->toPlainText(), QStringLiteral("<b>bold?</b>\n") + kLongLine);
  window_.show();
  ASSERT_TRUE(ProcessUntil([&] { return text->horizontalScrollBar()->maximum() > 0; }));
  EXPECT_EQ(text->document()->blockCount(), 2);
}

TEST_F(MessageWindowTest, SetMessageSetsCaptionTextAndBottomColour) {
  const QColor buttonFace = window_.palette().color(QPalette::Button);
  auto* bottom = Child<QFrame>(window_, "pn_bottom");
  ASSERT_NE(bottom, nullptr);

  window_.SetMessage("Server message", kText, PanelColour::Error);
  EXPECT_EQ(window_.windowTitle(), "Server message");
  EXPECT_EQ(window_.Text(), kText);
  EXPECT_EQ(bottom->palette().color(bottom->backgroundRole()), QColor(153, 6, 57));
  EXPECT_TRUE(bottom->autoFillBackground());

  window_.SetMessage("Client message", "short", PanelColour::ButtonFace);
  EXPECT_EQ(window_.windowTitle(), "Client message");
  EXPECT_EQ(window_.Text(), "short");
  EXPECT_EQ(bottom->palette().color(bottom->backgroundRole()), buttonFace);
}

TEST_F(MessageWindowTest, CopyTakesTheSelectionAndSelectAllTakesEverything) {
  window_.SetMessage("c", kText, PanelColour::ButtonFace);
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setText("untouched");
  auto* copy = Child<QToolButton>(window_, "btn_copy");
  auto* selectAll = Child<QToolButton>(window_, "btn_selectall");
  ASSERT_TRUE(copy && selectAll);

  copy->click();  // nothing selected yet
  EXPECT_EQ(clipboard->text(), "untouched");

  selectAll->click();
  copy->click();
  EXPECT_EQ(clipboard->text(), kText);
}

TEST_F(MessageWindowTest, EscapePressesOkAndClosesTheWindow) {
  auto* ok = Child<QPushButton>(window_, "btn_close");
  ASSERT_NE(ok, nullptr);
  int clicks = 0;
  QObject::connect(ok, &QPushButton::clicked, [&] { ++clicks; });
  ShowActive(window_);
  ASSERT_TRUE(window_.isVisible());

  QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
  QApplication::sendEvent(QApplication::focusWidget() ? QApplication::focusWidget() : &window_,
                          &escape);
  EXPECT_EQ(clicks, 1);
  EXPECT_FALSE(window_.isVisible());
  EXPECT_EQ(window_.result(), QDialog::Accepted);
}

TEST_F(MessageWindowTest, FocusEnteringTheTextGoesToOk) {
  ShowActive(window_);
  auto* text = Child<QTextEdit>(window_, "m_message");
  auto* ok = Child<QPushButton>(window_, "btn_close");
  ASSERT_TRUE(text && ok);
  EXPECT_EQ(QApplication::focusWidget(), ok);

  text->setFocus(Qt::MouseFocusReason);
  EXPECT_EQ(QApplication::focusWidget(), ok);

  // Tab never lands on the text either.
  QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
  QApplication::sendEvent(ok, &tab);
  EXPECT_NE(QApplication::focusWidget(), text);
}

TEST_F(MessageWindowTest, ClosesWhenAnotherWindowIsActivated) {
  ShowActive(window_);
  // Its own show and activation must not count as a deactivation.
  QApplication::processEvents();
  ASSERT_TRUE(window_.isVisible());

  // A dialog of its own (the print dialog) does not close it.
  QDialog own(&window_);
  ShowActive(own);
  QApplication::processEvents();
  EXPECT_TRUE(window_.isVisible());
  own.close();
  ShowActive(window_);

  QWidget other;
  ShowActive(other);
  EXPECT_TRUE(ProcessUntil([&] { return !window_.isVisible(); }));
}

TEST_F(MessageWindowTest, PrintsToAPdfFile) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString path = dir.filePath("message.pdf");
  window_.SetMessage("c", kText, PanelColour::Error);
  {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    window_.PrintTo(printer);
    EXPECT_EQ(printer.docName(), "Brondal - CT-Library message");
  }
  QFile file(path);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  const QByteArray pdf = file.readAll();
  EXPECT_TRUE(pdf.startsWith("%PDF"));
  EXPECT_GT(pdf.size(), 1000);
  // The title goes into the document information as UTF-16.
  const QString title = QStringLiteral("Brondal - CT-Library message");
  QByteArray utf16;
  for (QChar c : title) utf16.append('\0').append(static_cast<char>(c.unicode()));
  EXPECT_TRUE(pdf.contains(utf16));
  // Printing must leave the text on screen as it was.
  EXPECT_EQ(window_.Text(), kText);
}

TEST_F(MessageWindowTest, RendersWithARedBottomForAnError) {
  window_.SetMessage("Error", kText, PanelColour::Error);
  const QImage error = window_.grab().toImage();
  ASSERT_FALSE(error.isNull());
  const qreal dpr = error.devicePixelRatio();
  auto at = [&](const QImage& image, int x, int y) {
    return image.pixelColor(qRound(x * dpr), qRound(y * dpr));
  };

  QSet<QRgb> colours;
  for (int y = 0; y < error.height(); y += 3)
    for (int x = 0; x < error.width(); x += 3) colours.insert(error.pixel(x, y));
  EXPECT_GT(colours.size(), 10) << "the window rendered (almost) blank";

  const QColor red(153, 6, 57);
  // Left and right of the OK button, near the panel's corners.
  EXPECT_EQ(at(error, 3, 252 - 3), red);
  EXPECT_EQ(at(error, 389, 252 - 33), red);
  EXPECT_EQ(at(error, 60, 252 - 18), red);
  // But not the button and not the text box.
  EXPECT_NE(at(error, 196, 252 - 18), red);
  EXPECT_NE(at(error, 100, 100), red);

  window_.SetMessage("Info", kText, PanelColour::ButtonFace);
  const QImage info = window_.grab().toImage();
  EXPECT_NE(at(info, 3, 252 - 3), red);
  EXPECT_EQ(at(info, 3, 252 - 3), window_.palette().color(QPalette::Button));
}

}  // namespace
