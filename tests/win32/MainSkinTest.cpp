#include "ui/MainSkin.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>
#include <map>
#include <stdexcept>

#include "common/WindowMessages.h"
#include "package/PackageWriter.h"
#include "package/SkinLayout.h"
#include "platform/CodePage.h"
#include "skin/SkinCanvas.h"
#include "support/MessagePump.h"
#include "support/TestSupport.h"
#include "ui/logic/MainTexts.h"

using namespace skintest;

namespace {

// A distinct opaque colour for the stored image `index`.
uint32_t ImageColour(size_t index) {
  const uint32_t i = static_cast<uint32_t>(index);
  return 0xFF000000u | (10 + 6 * i) << 16 | (200 - 5 * i) << 8 | (40 + 3 * i);
}

uint32_t ColourOf(const std::string& name) {
  const auto& names = SkinImageNames();
  return ImageColour(static_cast<size_t>(std::find(names.begin(), names.end(), name) - names.begin()));
}

// Image sizes of a shipped skin.
TSizeI ImageSize(const std::string& name) {
  if (name == "background") return {1002, 642};
  if (name.rfind("btn_start", 0) == 0) return {266, 86};
  if (name.rfind("btn_", 0) == 0) return {110, 35};
  if (name.rfind("cb_", 0) == 0) return {35, 40};
  if (name.rfind("close", 0) == 0 || name.rfind("min", 0) == 0) return {40, 40};
  if (name == "frm_login") return {302, 412};
  if (name == "pic_slogan") return {193, 33};
  if (name.rfind("Progress", 0) == 0) return {839, 19};
  return {200, 30};
}

// Places of the 20 position records, in block order.
const std::vector<TRectI> PackagePlaces = {
    {30, 10, 193, 33},   {20, 100, 600, 400}, {680, 120, 302, 412}, {766, 182, 177, 20}, {905, 269, 35, 40},
    {690, 280, 300, 30}, {905, 356, 35, 40},  {690, 366, 300, 30},  {848, 244, 100, 17}, {700, 440, 266, 86},
    {80, 560, 505, 17},  {83, 610, 839, 17},  {83, 585, 839, 17},   {826, 560, 300, 30}, {962, 0, 40, 40},
    {922, 0, 40, 40},    {448, 50, 110, 35},  {568, 50, 110, 35},   {688, 50, 110, 35},  {808, 50, 110, 35}};

// A launcher file whose package holds the first `imageCount` skin images.
struct TSkinFile {
  TTempFolder folder;
  std::string path;
  TPackageLocations locations;

  explicit TSkinFile(size_t imageCount, TSizeI backgroundSize = {1002, 642}) {
    TPackageContent content;
    content.configText = "1 0 0 12 n a b c d e f g";
    for (size_t i = 0; i < imageCount; ++i) {
      const std::string& name = SkinImageNames()[i];
      const TSizeI size = i == 0 ? backgroundSize : ImageSize(name);
      const uint32_t argb = ImageColour(i);
      content.images.push_back(EncodeSolidPng(size.Width, size.Height, (argb << 8) | 0xFF));
    }
    content.positions = {0, 0, 1002, 642};
    for (const TRectI& place : PackagePlaces) {
      for (int value : {place.X, place.Y, place.Width, place.Height}) content.positions.push_back(int16_t(value));
    }
    const std::string exe = "MZ" + std::string(510, '\0');
    path = folder / "launcher.exe";
    WriteWholeFile(path, exe + BuildPackage(content, static_cast<int64_t>(exe.size())));
    TLauncherConfig config;
    ReadPackage(path, "launcher", config, locations);
  }
};

// The window with its boxes and drags recorded instead of shown or started.
class TTestForm : public TfrmMainSkin {
public:
  TTestForm() { EndsApplication = false; }
  void Load(const TSkinFile& file) {
    ResetComponentOffsetFrom(file.path, file.locations);
    LoadImageresourceFrom(file.path, file.locations);
  }
  uint32_t Pixel(int x, int y) {
    TGpBitmapPtr bitmap = ComposeBitmap();
    Gdiplus::ARGB colour = 0;
    if (bitmap) GdipBitmapGetPixel(bitmap.get(), x, y, &colour);
    return colour;
  }
  LRESULT Send(UINT message, int x = 0, int y = 0) { return SendMessageA(Handle(), message, 0, MAKELPARAM(x, y)); }

  std::vector<std::string> Boxes;
  int Drags = 0, Closes = 0, Destroys = 0;
  bool MayClose = false;

protected:
  void ShowMessageBox(const std::string& text, const std::string& caption, UINT flags) override {
    Boxes.push_back(text + "|" + caption + "|" + std::to_string(flags));
  }
  void BeginWindowDrag() override { ++Drags; }
  bool HandleMessage(UINT message, WPARAM, LPARAM, LRESULT&) override {
    if (message == WM_APP + 5) throw std::runtime_error("broken handler");
    return false;
  }
  bool FormCloseQuery() override {
    ++Closes;
    return MayClose;
  }
  void FormDestroy() override { ++Destroys; }
};

}  // namespace

class MainSkinTest : public TSkinTest {};

TEST_F(MainSkinTest, PackageSkinComposesAtThePackagePositions) {
  TSkinFile file(SkinImageNames().size());
  TTestForm form;
  form.Load(file);
  EXPECT_EQ(form.ClientWidth(), 1002);
  EXPECT_EQ(form.ClientHeight(), 642);
  EXPECT_EQ(form.Pixel(5, 300), ColourOf("background"));
  // LGBtn1's normal image fills 448,50 .. 557,84 and nothing left of it.
  EXPECT_EQ(form.Pixel(448, 50), ColourOf("btn_gw_normal"));
  EXPECT_EQ(form.Pixel(557, 84), ColourOf("btn_gw_normal"));
  EXPECT_EQ(form.Pixel(447, 60), ColourOf("background"));
  EXPECT_EQ(form.Pixel(980, 20), ColourOf("close_normal"));
  // Records with a skipped size and controls no record names keep their form size.
  EXPECT_EQ(form.lbMember.Left, 690);
  EXPECT_EQ(form.lbMember.Width, 249);
  EXPECT_EQ(form.lbMember.Height, 22);
  EXPECT_EQ(form.lbIngUpdate.Width, 95);
  EXPECT_EQ(form.LGBtn5.Left, 384);
  EXPECT_FALSE(form.LGBtn5.Visible);
  EXPECT_EQ(form.LGBtn4.Tag, 4);
  EXPECT_FALSE(form.LGStart.Enabled);
  EXPECT_EQ(form.NewsBrowserRect.Width, 600);
  EXPECT_EQ(form.LBStatus.WideText(), Cp936ToUtf16(VersionLabelText()));
  EXPECT_TRUE(form.ServerNew && form.LGmin.HasGlyph(lgsDown) && form.btnSelMem.HasGlyph(lgsActive));

  // Hovering and pressing swap LGBtn1's images; the disabled start button
  // keeps its disable image under the mouse.
  form.Send(WM_MOUSEMOVE, 500, 60);
  EXPECT_EQ(form.Pixel(500, 60), ColourOf("btn_gw_active"));
  form.Send(WM_LBUTTONDOWN, 500, 60);
  EXPECT_EQ(form.Pixel(500, 60), ColourOf("btn_gw_down"));
  form.Send(WM_LBUTTONUP, 500, 60);
  form.Send(WM_MOUSEMOVE, 900, 500);
  EXPECT_EQ(form.Pixel(900, 500), ColourOf("btn_start_disable"));

  // One recomposition of the whole window.
  constexpr int Rounds = 20;
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < Rounds; ++i) ASSERT_TRUE(form.ComposeBitmap());
  const double ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  std::cout << "composition of 1002 x 642: " << ms / Rounds << " ms" << std::endl;
}

TEST_F(MainSkinTest, LooksDecideWhatIsComposedAndTheBarsFollowTheProgress) {
  TSkinFile file(SkinImageNames().size());
  TTestForm form;
  form.Load(file);
  form.ApplyUpdatingLook();
  EXPECT_EQ(form.Pixel(833, 483), ColourOf("background"));  // no start button, no login panel
  // Maxima above the bars' old maximum of 100: a position set before its
  // maximum would be refused.
  form.TotalPos = 150;
  form.TotalMax = 300;
  form.CurPos = 250;
  form.CurMax = 250;
  form.StatusText = "50%";
  form.SpeedText = "\xCB\xD9\xB6\xC8 3 KB/s";  // "速度 3 KB/s"
  form.UpdateTimerTimer();
  EXPECT_EQ(form.LBStatus.WideText(), Cp936ToUtf16(ProgressStatusLine(form.StatusText, form.SpeedText)));
  // Total at half on 839 pixels: 419.5 pixels of fill from x = 83.
  EXPECT_EQ(form.Pixel(83 + 418, 615), ColourOf("Progress_all"));
  EXPECT_EQ(form.Pixel(83 + 421, 615), ColourOf("Progress_bk"));
  EXPECT_EQ(form.Pixel(83 + 838, 590), ColourOf("Progress_all"));  // current full

  form.ApplyLoginLook();
  EXPECT_TRUE(form.LGStart.Enabled);
  EXPECT_TRUE(form.NewsBrowserVisible);
  EXPECT_EQ(form.Pixel(833, 483), ColourOf("btn_start_normal"));
  EXPECT_EQ(form.Pixel(700, 140), ColourOf("frm_login"));
  EXPECT_EQ(form.Pixel(100, 615), ColourOf("background"));

  // A hidden window keeps its status line.
  form.Hidden = true;
  form.StatusText = "other";
  form.UpdateTimerTimer();
  EXPECT_EQ(form.LBStatus.WideText(), Cp936ToUtf16(ProgressStatusLine("50%", form.SpeedText)));
}

TEST_F(MainSkinTest, ShortSkinBlocksBindWhatTheyHoldAndNoPackageKeepsTheForm) {
  TSkinFile thirteen(13);
  TTestForm form;
  form.Load(thirteen);
  form.ApplyUpdatingLook();
  // Steps 1..16: background, every normal image, both pictures, both bars.
  EXPECT_TRUE(form.HasBackground());
  EXPECT_TRUE(form.btnSelMem.HasGlyph(lgsNormal));
  EXPECT_TRUE(form.LGmin.HasGlyph(lgsNormal));
  EXPECT_EQ(form.Pixel(83 + 10, 590), ColourOf("Progress_all"));  // LGCurrent, bound by the second cursor
  // Step 17 on: no server row images, no active, down or disable image.
  EXPECT_FALSE(form.ServerBkActive || form.ServerBkNormal || form.ServerNew);
  EXPECT_FALSE(form.LGBtn1.HasGlyph(lgsActive));
  EXPECT_FALSE(form.LGStart.HasGlyph(lgsDisable));

  // A background of another size sets the client size and still draws.
  TSkinFile small(2, {500, 300});
  TTestForm smallForm;
  smallForm.Load(small);
  EXPECT_EQ(smallForm.ClientWidth(), 500);
  EXPECT_EQ(smallForm.Pixel(499, 299), ColourOf("background"));

  // No package: form defaults, no images, a composition all the same.
  TTestForm bare;
  bare.ResetComponentOffsetFrom(thirteen.path, TPackageLocations{});
  bare.LoadImageresourceFrom(thirteen.path, TPackageLocations{});
  EXPECT_FALSE(bare.HasBackground());
  EXPECT_EQ(bare.ClientWidth(), 985);
  EXPECT_EQ(bare.LGClose.Left, 687);
  EXPECT_TRUE(bare.ComposeBitmap());
}

TEST_F(MainSkinTest, PressesDragTheWindowUnlessAnEnabledControlTakesThem) {
  TSkinFile file(SkinImageNames().size());
  TTestForm form;
  form.Load(file);
  form.ApplyLoginLook();
  auto dragsFrom = [&](int x, int y, UINT down = WM_LBUTTONDOWN) {
    const int before = form.Drags;
    form.Send(down, x, y);
    form.Send(down + 1, x, y);
    return form.Drags - before;
  };
  EXPECT_EQ(dragsFrom(10, 300), 1);   // background
  EXPECT_EQ(dragsFrom(700, 140), 1);  // picLogin
  EXPECT_EQ(dragsFrom(40, 20), 1);    // picSlogan
  EXPECT_EQ(dragsFrom(500, 60), 0);   // LGBtn1
  EXPECT_EQ(dragsFrom(800, 190), 0);  // lbLstSelSrv
  EXPECT_EQ(dragsFrom(10, 300, WM_RBUTTONDOWN), 0);
  form.ApplyUpdatingLook();
  EXPECT_EQ(dragsFrom(100, 565), 1);  // the disabled status label
}

TEST_F(MainSkinTest, HandlerErrorsAreShownAndTheWindowGoesOn) {
  TTestForm form;
  form.Send(WM_APP + 5);
  ASSERT_EQ(form.Boxes.size(), 1u);
  EXPECT_EQ(form.Boxes[0], "broken handler|Quellan|" + std::to_string(MB_OK | MB_ICONSTOP));
  EXPECT_FALSE(form.LGBtn1.ParentDrawn());
  form.Send(LGM_REDRAW);
  EXPECT_TRUE(form.LGBtn1.ParentDrawn());

  // A composition that cannot make its bitmap: one warning, both timers off.
  form.RunTimer.SetEnabled(true);
  form.UpdateTimer.SetEnabled(true);
  form.SetClientSize(0, 0);
  form.PaintChilds();
  form.PaintChilds();
  ASSERT_EQ(form.Boxes.size(), 2u);
  // "显示驱动初始化失败！" / "启动错误"
  EXPECT_EQ(form.Boxes[1], "\xCF\xD4\xCA\xBE\xC7\xFD\xB6\xAF\xB3\xF5\xCA\xBC\xBB\xAF\xCA\xA7\xB0\xDC\xA3\xA1|"
                           "\xC6\xF4\xB6\xAF\xB4\xED\xCE\xF3|" + std::to_string(MB_ICONWARNING));
  EXPECT_FALSE(form.RunTimer.Enabled() || form.UpdateTimer.Enabled());
}

TEST_F(MainSkinTest, PaintsComposeThroughThePaintTimerAndCloseAsksFirst) {
  TTestForm shown, hidden, minimized;
  hidden.Hidden = true;
  for (TTestForm* form : {&shown, &hidden}) form->Show(SW_SHOWNOACTIVATE);
  minimized.Show(SW_SHOWMINNOACTIVE);
  PumpFor(150);
  EXPECT_TRUE(shown.LGBtn1.ParentDrawn());
  EXPECT_FALSE(shown.PaintTimer.Enabled());
  EXPECT_FALSE(hidden.LGBtn1.ParentDrawn());
  minimized.Send(LGM_REDRAW);
  EXPECT_FALSE(minimized.LGBtn1.ParentDrawn());
  // Restoring paints, and the paint composes about 10 ms later.
  ShowWindow(minimized.Handle(), SW_RESTORE);
  PumpFor(60);
  EXPECT_TRUE(minimized.LGBtn1.ParentDrawn());
  shown.LGminClick();
  PumpFor(50);
  EXPECT_TRUE(IsIconic(shown.Handle()));

  shown.LGCloseClick();
  PumpFor(50);
  EXPECT_EQ(shown.Closes, 1);
  EXPECT_TRUE(IsWindow(shown.Handle()));
  shown.MayClose = true;
  shown.LGCloseClick();
  PumpFor(50);
  EXPECT_EQ(shown.Destroys, 1);
  EXPECT_EQ(shown.Handle(), nullptr);
}
