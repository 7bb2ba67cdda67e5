// The "Water Surface Settings" dialog (146): the effects, the two colours and
// the three trackbars of ConfigWater.  Check boxes and trackbars are taken
// only by OK; a colour is taken as soon as the colour chooser gives it.
#include "source/configwater.h"
#include "source/settingsdialogs.h"

using namespace platform;

namespace {

struct FlagBox {
  int id;
  uint32_t bit;
};
constexpr FlagBox kFlagBoxes[] = {
    {1032, ConfigWater::ripple},           {1038, ConfigWater::waterDrop}, {1034, ConfigWater::boat},
    {1033, ConfigWater::waterRandomColor}, {1024, ConfigWater::specular},  {1027, ConfigWater::specularRandomColor},
};

constexpr int kSpecularColourButton = 1028;
constexpr int kWaterColourButton = 1029;
constexpr int kWaterDropBox = 1038;
constexpr int kLittleBoatBox = 1034;

void setUpTrackbar(HWND dialog, int id, int minimum, int maximum, int position) {
  Trackbar_SetRange(dialog, id, TRUE, minimum, maximum);
  Trackbar_SetPos(dialog, id, position);
  Trackbar_SetPageSize(dialog, id, 10);
  Trackbar_SetLineSize(dialog, id, 1);
  Trackbar_SetTicFreq(dialog, id, 10);
}

}  // namespace

intptr_t ConfigWater::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      for (const FlagBox& box : kFlagBoxes)
        CheckDlgButton(dialog, box.id, (waterFlags & box.bit) ? BST_CHECKED : BST_UNCHECKED);
      setUpTrackbar(dialog, 1031, 1, 100, specularPower);
      setUpTrackbar(dialog, 1015, 1, 100, animationSpeed);
      setUpTrackbar(dialog, 1016, 60, 160, surfaceSize);
      return TRUE;

    case WM_DRAWITEM: {
      const auto* item = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (!item || (item->CtlID != kSpecularColourButton && item->CtlID != kWaterColourButton)) return FALSE;
      const COLORREF colour = item->CtlID == kSpecularColourButton ? specularColor : waterColor;
      // The top byte of a default colour is no part of the colour itself.
      FillSolidRect(item->hDC, &item->rcItem, colour & 0x00FFFFFF);
      return TRUE;
    }

    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      switch (id) {
        case kSpecularColourButton:
        case kWaterColourButton: {
          uint32_t& field = id == kSpecularColourButton ? specularColor : waterColor;
          CHOOSECOLORA choice;
          choice.hwndOwner = dialog;
          choice.rgbResult = field & 0x00FFFFFF;
          choice.lpCustColors = customColours();
          choice.Flags = CC_RGBINIT | CC_FULLOPEN;
          // A cancelled chooser leaves the colour as it was.
          if (ChooseColorA(&choice)) field = choice.rgbResult;
          RedrawDlgItem(dialog, id);
          return TRUE;
        }
        case kWaterDropBox:
        case kLittleBoatBox:
          // Drops and the boat keep the water moving: never both off.
          if (IsDlgButtonChecked(dialog, id) != BST_CHECKED)
            CheckDlgButton(dialog, id == kWaterDropBox ? kLittleBoatBox : kWaterDropBox, BST_CHECKED);
          return TRUE;
        case IDOK:
          for (const FlagBox& box : kFlagBoxes) {
            if (IsDlgButtonChecked(dialog, box.id) == BST_CHECKED)
              waterFlags |= box.bit;
            else
              waterFlags &= ~box.bit;
          }
          specularPower = Trackbar_GetPos(dialog, 1031);
          animationSpeed = Trackbar_GetPos(dialog, 1015);
          surfaceSize = Trackbar_GetPos(dialog, 1016);
          EndDialog(dialog, 1);
          return TRUE;
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        default: return FALSE;
      }
    }
    default: return FALSE;
  }
}
