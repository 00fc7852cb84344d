// The file dialogs of the desktop window: the open-file dialog of the downloads and the
// folder chooser of the uploads, both Qt's own dialog so that they behave alike everywhere.
#pragma once

#include <QString>

#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/platform.h"

class QWidget;

namespace trelvo::ui {

// The text QFileDialog takes for one type-list entry: the description, then the pattern in
// parentheses ("KV72 Update (*.BIN) (*.bin)"). The dialog shows the description alone.
// "*.*" means every file, with or without a dot in its name.
QString name_filter(const FileFilter& filter);

// Object names of the folder chooser's own controls, for tests.
inline constexpr const char* CURRENT_FOLDER_LABEL = "current_folder_label";
inline constexpr const char* CURRENT_FOLDER_FIELD = "current_folder_field";

// The open-file dialog: an existing file, types matched regardless of case, the first type
// selected, starting in `start_directory` (the current directory when empty). The chosen
// path, or nothing when the user cancelled.
std::optional<std::string> choose_file_to_open(QWidget* parent, std::span<const FileFilter> filters,
                                               std::string_view start_directory);

// The folder chooser titled `title`: folders only, starting in `start_directory`, with the
// folder that OK would choose shown below the list ("Current Directory:"). The folder on
// OK, or nothing when the user cancelled.
std::optional<std::string> choose_folder(QWidget* parent, std::string_view title,
                                         std::string_view start_directory);

}  // namespace trelvo::ui
