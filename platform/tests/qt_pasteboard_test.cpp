// The pasteboard on the desktop clipboard (offscreen platform).
#include "platform/qt_pasteboard.h"

#include <map>

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

namespace {
using quillo::Pasteboard;

TEST(MemoryPasteboard, KeepsEachTypeUntilItIsCleared) {
  quillo::MemoryPasteboard board;
  EXPECT_TRUE(board.setData("text", Pasteboard::kStringType));
  EXPECT_EQ(board.dataForType(Pasteboard::kStringType), "text");
  EXPECT_EQ(board.dataForType("public.file-url"), std::nullopt);
  EXPECT_TRUE(board.setData(std::nullopt, "public.file-url"));
  EXPECT_EQ(board.dataForType(Pasteboard::kStringType), "text") << "clearing another type";
  EXPECT_TRUE(board.setData(std::nullopt, Pasteboard::kStringType));
  EXPECT_TRUE(board.types().empty());
}

TEST(QtPasteboard, TextAndLocalFilesAreTypedAndTextCanBeSetAndCleared) {
  quillo::QtPasteboard board;
  board.clearContents();
  EXPECT_TRUE(board.types().empty());

  EXPECT_TRUE(board.setData("候选 words", Pasteboard::kStringType));
  EXPECT_EQ(board.types(), std::vector<std::string>{std::string(Pasteboard::kStringType)});
  EXPECT_EQ(board.dataForType(Pasteboard::kStringType), "候选 words");

  auto* files = new QMimeData;
  files->setUrls({QUrl::fromLocalFile("/tmp/a b.txt")});
  QGuiApplication::clipboard()->setMimeData(files);
  EXPECT_EQ(board.types(), std::vector<std::string>{std::string(Pasteboard::kFileURLType)});
  EXPECT_EQ(board.dataForType(Pasteboard::kFileURLType), "file:///tmp/a%20b.txt\r\n");
  EXPECT_EQ(board.dataForType(Pasteboard::kStringType), std::nullopt);

  auto* web = new QMimeData;
  web->setUrls({QUrl("https://example.org/")});
  QGuiApplication::clipboard()->setMimeData(web);
  EXPECT_EQ(board.types(), std::vector<std::string>{"text/uri-list"}) << "no local file";

  board.clearContents();
  EXPECT_TRUE(board.setData(std::nullopt, Pasteboard::kStringType));
  EXPECT_TRUE(board.types().empty());
  EXPECT_TRUE(board.setData("alone", Pasteboard::kStringType));
  EXPECT_TRUE(board.setData(std::nullopt, Pasteboard::kStringType));
  EXPECT_TRUE(board.types().empty()) << "its last type taken away";
}

// Taken type by type and put back after a clear, an image, a file list and
// rich text come back as they were, beside the text.
TEST(QtPasteboard, EveryFormatSurvivesBeingPutBack) {
  const QByteArray png("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
  auto* held = new QMimeData;
  held->setData("image/png", png);
  held->setUrls({QUrl::fromLocalFile("/home/u/a.txt"), QUrl::fromLocalFile("/home/u/b c.png")});
  held->setHtml("<b>你好</b>");
  held->setText("你好");
  QGuiApplication::clipboard()->setMimeData(held);

  quillo::QtPasteboard board;
  std::map<std::string, std::string> before;
  for (const auto& type : board.types()) before[type] = board.dataForType(type).value_or("");
  board.clearContents();
  for (const auto& [type, data] : before) EXPECT_TRUE(board.setData(data, type)) << type;

  const QMimeData* now = QGuiApplication::clipboard()->mimeData();
  ASSERT_NE(now, nullptr);
  EXPECT_EQ(now->data("image/png"), png);
  EXPECT_EQ(now->urls(), (QList<QUrl>{QUrl::fromLocalFile("/home/u/a.txt"), QUrl::fromLocalFile("/home/u/b c.png")}));
  EXPECT_EQ(now->html(), "<b>你好</b>");
  EXPECT_EQ(now->text(), "你好");
  std::map<std::string, std::string> after;
  for (const auto& type : board.types()) after[type] = board.dataForType(type).value_or("");
  EXPECT_EQ(after, before);
}

TEST(QtPasteboard, GeneralIsReplaceableAndFallsBackToMemory) {
  auto board = std::make_shared<quillo::QtPasteboard>();
  Pasteboard::setGeneral(board);
  EXPECT_EQ(Pasteboard::general(), board);
  Pasteboard::setGeneral(nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<quillo::MemoryPasteboard>(Pasteboard::general()), nullptr);
}

}  // namespace
