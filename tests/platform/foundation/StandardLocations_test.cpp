#include "platform/foundation/StandardLocations.h"
#include "support/TestSupport.h"

#include <QDir>

#include <gtest/gtest.h>

TEST(StandardLocations, DesktopIsTheHomeFolderWhenThereIsNoDesktopFolder) {
  const QString desktop = Test_HomePath() + QStringLiteral("/Desktop");
  QDir(desktop).removeRecursively();
  EXPECT_EQ(StandardLocations::desktopPath(), StandardLocations::homePath());
  ASSERT_TRUE(QDir().mkpath(desktop));
  EXPECT_EQ(StandardLocations::desktopPath(), desktop);
  QDir(desktop).removeRecursively();
}

