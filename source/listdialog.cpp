// The list dialogs "Image list" (185) and "Mp3 File List" (202): one
// ConfigFileList each.  Adding, removing and moving entries change the live
// lists at once; the other settings are taken by "Close".
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/files.h"
#include "platform/product.h"
#include "source/configfilelist.h"
#include "source/settingsdialogs.h"

using namespace platform;

namespace {

constexpr int kEnableBox = 1045;
constexpr int kPlayButtonsBox = 1000;
constexpr int kMaxFilesEdit = 1046;
constexpr int kRandomizeBox = 1098;
constexpr int kPlayModeList = 1041;
constexpr int kEditDirectoriesBox = 1047;
constexpr int kDirectoryListBox = 1093;
constexpr int kEditFilesBox = 1048;
constexpr int kFileListBox = 1092;
constexpr int kMaxSelection = 256;
constexpr size_t kOpenBufferSize = 33280;

constexpr const char* kPlayModes[] = {
    "Random",
    "Play the file list",
    "Play selected directories",
    "Play a random directory",
    "Play 2 random directories",
    "Play 3 random directories",
    "Play 4 random directories",
    "Play 5 random directories",
    "Pick from all files randomly",
};

std::string row(size_t index, const std::string& path) {
  char number[16];
  std::snprintf(number, sizeof number, "%3d  ", static_cast<int>(index + 1));
  return number + path;
}

void fillListBox(HWND dialog, int id, const StringList& list) {
  ListBox_ResetContent(dialog, id);
  for (size_t i = 0; i < list.count(); ++i) ListBox_AddString(dialog, id, row(i, list.at(i)).c_str());
}

// Moves entry `from` of the list to `to`; the entries between shift by one
// place, their rows are numbered anew, and row `to` is selected.
void moveEntry(HWND dialog, int listBox, StringList& list, int from, int to) {
  if (from == to || !list.move(static_cast<size_t>(from), static_cast<size_t>(to))) return;
  ListBox_DeleteString(dialog, listBox, from);
  ListBox_InsertString(dialog, listBox, to, row(static_cast<size_t>(to), list.at(static_cast<size_t>(to))).c_str());
  for (int i = std::min(from, to); i <= std::max(from, to); ++i)
    ListBox_SetItemText(dialog, listBox, i, row(static_cast<size_t>(i), list.at(static_cast<size_t>(i))).c_str());
  ListBox_SetSel(dialog, listBox, TRUE, to);
}

// The rows of the paths that a list refused, for the message that says so.
void refuseLongPaths(HWND dialog, const std::vector<std::string>& refused) {
  if (refused.empty()) return;
  std::string text = refused.size() == 1
                         ? "This path is too long for the list (at most 259 characters) and was not added:"
                         : "These paths are too long for the list (at most 259 characters each) and were not added:";
  for (size_t i = 0; i < refused.size() && i < 5; ++i) text += "\n" + refused[i];
  if (refused.size() > 5) text += "\n... and " + std::to_string(refused.size() - 5) + " more";
  DialogMessageBoxA(dialog, text.c_str(), product::kName, MB_OK | MB_ICONWARNING);
}

}  // namespace

intptr_t ConfigFileList::dialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
  // The list the editing buttons act on.
  const bool editingDirectories = editDirectories == 1;
  const int editedBox = editingDirectories ? kDirectoryListBox : kFileListBox;
  StringList& edited = editingDirectories ? dirList : fileList;

  auto showEditedList = [&] {
    const bool dirs = editDirectories == 1;
    CheckDlgButton(dialog, kEditDirectoriesBox, dirs ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(dialog, kEditFilesBox, dirs ? BST_UNCHECKED : BST_CHECKED);
    EnableDlgItem(dialog, kDirectoryListBox, dirs);
    EnableDlgItem(dialog, kFileListBox, !dirs);
  };

  switch (message) {
    case WM_INITDIALOG: {
      CheckDlgButton(dialog, kEnableBox, listEnabled ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(dialog, kPlayButtonsBox, showPlayButtons ? BST_CHECKED : BST_UNCHECKED);
      CheckDlgButton(dialog, kRandomizeBox, randomizeOrder ? BST_CHECKED : BST_UNCHECKED);
      SetDlgItemInt(dialog, kMaxFilesEdit, static_cast<UINT>(maxFiles), TRUE);
      ComboBox_ResetContent(dialog, kPlayModeList);
      for (int i = 0; i < 9; ++i) {
        const int at = ComboBox_AddString(dialog, kPlayModeList, kPlayModes[i]);
        ComboBox_SetItemData(dialog, kPlayModeList, at, i);
      }
      ComboBox_SetCurSel(dialog, kPlayModeList, playMode);
      fillListBox(dialog, kDirectoryListBox, dirList);
      for (int i = 0; i < kSelectedDirs && selectedDirs[i] >= 0; ++i)
        ListBox_SetSel(dialog, kDirectoryListBox, TRUE, selectedDirs[i]);
      fillListBox(dialog, kFileListBox, fileList);
      ListBox_SetHorizontalExtent(dialog, kDirectoryListBox, 500);
      ListBox_SetHorizontalExtent(dialog, kFileListBox, 500);
      showEditedList();
      return TRUE;
    }

    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      switch (id) {
        case kEditDirectoriesBox:
        case kEditFilesBox:
          editDirectories = id == kEditDirectoriesBox ? 1 : 0;
          showEditedList();
          return TRUE;

        case 1095: {  // Add Files
          // One filter from the list's extensions: ".jpg.bmp" with "*.jpg;*.bmp;".
          std::string description, patterns;
          for (int i = 0; i < kExtensionSlots; ++i) {
            description += extensions[i];
            if (extensions[i][0]) patterns += std::string("*") + extensions[i] + ";";
          }
          std::string filter = description;
          filter.push_back('\0');
          filter += patterns;
          filter.push_back('\0');
          filter.push_back('\0');
          std::unique_ptr<char[]> names(new char[kOpenBufferSize]());
          OPENFILENAMEA request;
          request.hwndOwner = dialog;
          request.lpstrFilter = filter.c_str();
          request.nFilterIndex = 1;
          request.lpstrFile = names.get();
          request.nMaxFile = kOpenBufferSize;
          request.lpstrTitle = "Open File";
          request.Flags =
              OFN_ALLOWMULTISELECT | OFN_EXPLORER | OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY;
          request.lpstrDefExt = "MP*";
          if (!GetOpenFileNameA(&request)) {
            if (CommDlgExtendedError() == FNERR_BUFFERTOOSMALL)
              DialogMessageBoxA(dialog, "Too many files were chosen at once. Please add them in smaller groups.",
                                product::kName, MB_OK | MB_ICONWARNING);
            return TRUE;
          }
          // One file: its full path; several: the folder, then each name.
          std::vector<std::string> chosen;
          const char* first = names.get();
          const char* next = first + std::strlen(first) + 1;
          if (*next == '\0') {
            chosen.emplace_back(first);
          } else {
            for (const char* name = next; *name; name += std::strlen(name) + 1) chosen.push_back(joinPath(first, name));
          }
          std::vector<std::string> refused;
          int last = -1;
          for (const std::string& path : chosen) {
            if (path.size() > kMaxListPath) {
              refused.push_back(path);
              continue;
            }
            fileList.append(path);
            last = ListBox_AddString(dialog, kFileListBox, row(fileList.count() - 1, path).c_str());
          }
          if (last >= 0) ListBox_SetTopIndex(dialog, kFileListBox, last);
          refuseLongPaths(dialog, refused);
          return TRUE;
        }

        case 1099: {  // Add Directory
          // Owned by the dialog, so that the chooser can't open behind it.
          const std::optional<std::string> folder = BrowseForFolderA(dialog, "select directory", lastChosenFolder());
          if (!folder || folder->empty()) return TRUE;
          lastChosenFolder() = *folder;
          if (folder->size() > kMaxListPath) {
            refuseLongPaths(dialog, {*folder});
            return TRUE;
          }
          dirList.append(*folder);
          const int at = ListBox_AddString(dialog, kDirectoryListBox, row(dirList.count() - 1, *folder).c_str());
          ListBox_SetTopIndex(dialog, kDirectoryListBox, at);
          return TRUE;
        }

        case 1088: {  // Top
          const std::vector<int> selected = ListBox_GetSelItems(dialog, editedBox, kMaxSelection);
          for (size_t k = 0; k < selected.size(); ++k)
            if (selected[k] > static_cast<int>(k))
              moveEntry(dialog, editedBox, edited, selected[k], static_cast<int>(k));
          return TRUE;
        }
        case 1089: {  // Up
          const std::vector<int> selected = ListBox_GetSelItems(dialog, editedBox, kMaxSelection);
          for (size_t k = 0; k < selected.size(); ++k)
            if (selected[k] != static_cast<int>(k))  // not in the block packed at the top
              moveEntry(dialog, editedBox, edited, selected[k], selected[k] - 1);
          return TRUE;
        }
        case 1090: {  // Down
          const std::vector<int> selected = ListBox_GetSelItems(dialog, editedBox, kMaxSelection);
          const int count = static_cast<int>(edited.count());
          const int n = static_cast<int>(selected.size());
          for (int k = n - 1; k >= 0; --k)
            if (selected[static_cast<size_t>(k)] != count - (n - k))  // not in the block packed at the bottom
              moveEntry(dialog, editedBox, edited, selected[static_cast<size_t>(k)],
                        selected[static_cast<size_t>(k)] + 1);
          return TRUE;
        }
        case 1091:    // Bottom
        case 1096: {  // Remove: to the bottom, then cut off
          const std::vector<int> selected = ListBox_GetSelItems(dialog, editedBox, kMaxSelection);
          const int count = static_cast<int>(edited.count());
          const int n = static_cast<int>(selected.size());
          for (int j = 0; j < n; ++j) {
            const int from = selected[static_cast<size_t>(n - 1 - j)];
            const int to = count - 1 - j;
            if (from < to) moveEntry(dialog, editedBox, edited, from, to);
          }
          if (id == 1096 && n > 0) {
            for (int j = 0; j < n; ++j) ListBox_DeleteString(dialog, editedBox, count - 1 - j);
            edited.dropLast(static_cast<size_t>(n));
            const int rows = ListBox_GetCount(dialog, editedBox);
            if (rows > 0) ListBox_SetTopIndex(dialog, editedBox, std::min(selected.front(), rows - 1));
          }
          return TRUE;
        }
        case 1097:  // Remove All
          edited.clear();
          ListBox_ResetContent(dialog, editedBox);
          return TRUE;

        case 1034: {  // Close
          listEnabled = IsDlgButtonChecked(dialog, kEnableBox) == BST_CHECKED ? 1 : 0;
          showPlayButtons = IsDlgButtonChecked(dialog, kPlayButtonsBox) == BST_CHECKED ? 1 : 0;
          randomizeOrder = IsDlgButtonChecked(dialog, kRandomizeBox) == BST_CHECKED ? 1 : 0;
          // The first 8 characters as a decimal number, held to 1..9999.
          char digits[9];
          GetDlgItemTextA(dialog, kMaxFilesEdit, digits, sizeof digits);
          const long value = std::strtol(digits, nullptr, 10);
          maxFiles = static_cast<int32_t>(std::clamp(value, 1L, 9999L));
          const int mode = ComboBox_GetCurSel(dialog, kPlayModeList);
          if (mode >= 0) playMode = static_cast<int32_t>(ComboBox_GetItemData(dialog, kPlayModeList, mode));
          std::fill(std::begin(selectedDirs), std::end(selectedDirs), -1);
          const std::vector<int> dirs = ListBox_GetSelItems(dialog, kDirectoryListBox, kMaxSelection);
          for (size_t i = 0; i < dirs.size(); ++i) selectedDirs[i] = dirs[i];
          EndDialog(dialog, 1);
          return TRUE;
        }
        case IDCANCEL:
          // The close button or Escape: the settings stay, the list edits too.
          EndDialog(dialog, 0);
          return TRUE;
        default: return FALSE;
      }
    }
    default: return FALSE;
  }
}
