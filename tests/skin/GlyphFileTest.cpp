#include "skin/logic/GlyphFile.h"

#include <gtest/gtest.h>

#include "support/TestSupport.h"

TEST(GlyphFile, NameItselfFirstThenBesideTheProgram) {
  TTempFolder here;
  TTempFolder program;
  WriteWholeFile(here / "bar.png", "x");
  WriteWholeFile(program / "bar.png", "y");
  WriteWholeFile(program / "cap.png", "z");

  // A name that exists as given wins over the copy beside the program.
  EXPECT_EQ(FindGlyphFile(here / "bar.png", program.Path()), here / "bar.png");
  // A bare name that is not found as given is looked up beside the program.
  EXPECT_EQ(FindGlyphFile("cap.png", program.Path()), program / "cap.png");
  EXPECT_EQ(FindGlyphFile("missing.png", program.Path()), std::nullopt);
  // An empty name never finds the program folder itself.
  EXPECT_EQ(FindGlyphFile("", program.Path()), std::nullopt);
}
