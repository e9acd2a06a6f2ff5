#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/WorkFolder.h"

namespace voltrix {
namespace {

TEST(WorkFolder, SameWindowsFolderIgnoresCaseSeparatorsAndTrailingOnes) {
  struct Row {
    std::string a, b;
    bool same;
  };
  const std::vector<Row> rows = {
      {R"(C:\Program Files\Voltrix\bin)", R"(C:\Program Files\Voltrix\bin)", true},
      {R"(C:\Program Files\Voltrix\bin)", R"(c:\program files\VOLTRIX\BIN\)", true},
      {R"(C:\Program Files\Voltrix\bin)", "C:/Program Files/Voltrix/bin//", true},
      {R"(C:\)", "C:", false},
      {R"(C:\)", "c:/", true},
      {R"(C:\Program Files\Voltrix\bin)", R"(C:\Program Files\Voltrix)", false},
      {R"(C:\Program Files\Voltrix\bin)", R"(C:\Program Files\Voltrix\bin2)", false},
      {R"(D:\固件)", R"(D:\固件\)", true},
      {"", "", false},
  };
  for (const Row& row : rows) {
    EXPECT_EQ(sameWindowsFolder(row.a, row.b), row.same) << row.a << " vs " << row.b;
  }
}

TEST(WorkFolder, OnlyAStartInTheProgramsOwnEmptyFolderMovesToDocuments) {
  const std::string program = R"(C:\Program Files\Voltrix\bin)";
  struct Row {
    bool imageNamed;
    std::string working;
    bool imageThere;
    bool moves;
  };
  const std::vector<Row> rows = {
      {false, program, false, true},  // Start menu, Explorer
      {false, R"(c:\program files\voltrix\bin\)", false, true},
      {true, program, false, false},                    // voltrix FOLDER or FILE
      {false, program, true, false},                    // an unpacked copy with its image
      {false, R"(C:\Users\me\Desktop)", false, false},  // started from a console there
  };
  for (const Row& row : rows) {
    EXPECT_EQ(worksInDocuments(row.imageNamed, row.working, program, row.imageThere), row.moves)
        << row.working << (row.imageNamed ? " named" : "") << (row.imageThere ? " image" : "");
  }
}

}  // namespace
}  // namespace voltrix
