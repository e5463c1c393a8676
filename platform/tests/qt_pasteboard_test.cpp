// The pasteboard on the desktop clipboard (offscreen platform).
#include "platform/qt_pasteboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

#include <gtest/gtest.h>

namespace {
using quillo::Pasteboard;

TEST(QtPasteboard, TextAndLocalFilesAreTypedAndTextCanBeSetAndCleared) {
  quillo::QtPasteboard board;
  board.clearContents();
  EXPECT_TRUE(board.types().empty());

  EXPECT_TRUE(board.setData("候选 words", Pasteboard::kStringType));
  EXPECT_EQ(board.types(), std::vector<std::string>{std::string(Pasteboard::kStringType)});
  EXPECT_EQ(board.dataForType(Pasteboard::kStringType), "候选 words");
  EXPECT_FALSE(board.setData("x", Pasteboard::kFileURLType)) << "only text can be set";

  auto* files = new QMimeData;
  files->setUrls({QUrl::fromLocalFile("/tmp/a b.txt")});
  QGuiApplication::clipboard()->setMimeData(files);
  const auto types = board.types();
  EXPECT_NE(std::find(types.begin(), types.end(), Pasteboard::kFileURLType), types.end());
  EXPECT_EQ(board.dataForType(Pasteboard::kFileURLType), "file:///tmp/a%20b.txt");

  board.clearContents();
  EXPECT_EQ(board.dataForType(Pasteboard::kStringType), std::nullopt);
  EXPECT_TRUE(board.setData(std::nullopt, Pasteboard::kStringType));
  EXPECT_TRUE(board.types().empty());
}

TEST(QtPasteboard, GeneralIsReplaceableAndFallsBackToMemory) {
  auto board = std::make_shared<quillo::QtPasteboard>();
  Pasteboard::setGeneral(board);
  EXPECT_EQ(Pasteboard::general(), board);
  Pasteboard::setGeneral(nullptr);
  EXPECT_NE(std::dynamic_pointer_cast<quillo::MemoryPasteboard>(Pasteboard::general()), nullptr);
}

}  // namespace
