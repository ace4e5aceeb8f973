// The package's positions and skin images applied to the window.
#include <map>

#include "platform/CodePage.h"
#include "platform/File.h"
#include "skin/SkinBitmap.h"
#include "ui/MainSkin.h"
#include "ui/logic/ImagePlan.h"
#include "ui/logic/MainPositions.h"
#include "ui/logic/MainTexts.h"

void TfrmMainSkin::ResetComponentOffsetFrom(const std::string& exePath, const TPackageLocations& locations) {
  LBStatus.SetWideText(Cp936ToUtf16(VersionLabelText()));
  std::map<std::string, TRectI> bounds;
  for (TLGControl* control : SkinRoot.Controls()) bounds[control->Name] = control->BoundsRect();
  bounds[NewsBrowserName] = NewsBrowserRect;
  ApplyPositionRecords(
      locations.posoffset,
      [&](const std::string& label, int32_t& cursor) { return ReadPosEntryFrom(exePath, locations, label, cursor); },
      bounds);
  for (TLGControl* control : SkinRoot.Controls()) {
    const TRectI& rect = bounds[control->Name];
    control->SetBounds(rect.X, rect.Y, rect.Width, rect.Height);
  }
  NewsBrowserRect = bounds[NewsBrowserName];
  // What the records do besides placing: the start button waits for the
  // login look, the total bar starts unshifted, the link buttons get the
  // tags their clicks act on.
  LGStart.Enabled = false;
  LGPTotal.XOffset = 0;
  LGBtn1.Tag = 1;
  LGBtn2.Tag = 2;
  LGBtn3.Tag = 3;
  LGBtn4.Tag = 4;
  RequestComposition();
}

void TfrmMainSkin::LoadImageresourceFrom(const std::string& exePath, const TPackageLocations& locations) {
  RunImagePlan(locations.resoffset, [&](const TImageStep& step, int32_t& cursor) {
    TGpBitmapPtr bitmap = ReadSkinBitmapFrom(exePath, locations.resoffset, locations.ressize, step.Label, cursor);
    if (!bitmap) return false;
    BindImage(step, std::move(bitmap));
    return true;
  });
}

void TfrmMainSkin::BindImage(const TImageStep& step, TGpBitmapPtr bitmap) {
  TLGControl* control = *step.Control ? ControlByName(step.Control) : nullptr;
  switch (step.Target) {
    case TImageTarget::Background: {
      UINT width = 0, height = 0;
      Gdiplus::DllExports::GdipGetImageWidth(bitmap.get(), &width);
      Gdiplus::DllExports::GdipGetImageHeight(bitmap.get(), &height);
      FBackground = std::move(bitmap);
      SetClientSize(static_cast<int>(width), static_cast<int>(height));
      break;
    }
    case TImageTarget::ButtonState:
      if (auto* button = dynamic_cast<TLGButton*>(control)) button->SetStateGlyph(step.State, std::move(bitmap));
      break;
    case TImageTarget::Picture:
      if (auto* picture = dynamic_cast<TLGPicture*>(control)) picture->SetPicture(std::move(bitmap));
      break;
    case TImageTarget::BarBackground:
      if (auto* bar = dynamic_cast<TLGProgress2*>(control)) bar->SetBkgBitmap(std::move(bitmap));
      break;
    case TImageTarget::BarFill:
      if (auto* bar = dynamic_cast<TLGProgress2*>(control)) bar->SetStepBitmap(std::move(bitmap));
      break;
    case TImageTarget::PickerActive: ServerBkActive = std::move(bitmap); break;
    case TImageTarget::PickerNormal: ServerBkNormal = std::move(bitmap); break;
    case TImageTarget::PickerNew: ServerNew = std::move(bitmap); break;
  }
}

void TfrmMainSkin::ReleaseBackground() { FBackground.reset(); }
