#include "ui/file_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QStringList>

namespace trelvo::ui {

namespace {

QString text_of(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

void start_in(QFileDialog& dialog, std::string_view start_directory) {
    const QString start = text_of(start_directory);
    if (!start.isEmpty() && QDir(start).exists()) dialog.setDirectory(start);
}

}  // namespace

QString name_filter(const FileFilter& filter) {
    QString pattern = text_of(filter.pattern);
    if (pattern == QLatin1String("*.*")) pattern = QStringLiteral("*");
    return text_of(filter.description) + QStringLiteral(" (") + pattern + QLatin1Char(')');
}

std::optional<std::string> choose_file_to_open(QWidget* parent, std::span<const FileFilter> filters,
                                               std::string_view start_directory) {
    QFileDialog dialog(parent);
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::HideNameFilterDetails |
                      QFileDialog::ReadOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    // Files from the tester's world are named in capitals as often as not.
    dialog.setFilter(dialog.filter() & ~QDir::CaseSensitive);
    QStringList names;
    for (const FileFilter& filter : filters)
        names << name_filter(filter);
    dialog.setNameFilters(names);
    if (!names.isEmpty()) dialog.selectNameFilter(names.front());
    start_in(dialog, start_directory);
    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return chosen.front().toStdString();
}

std::optional<std::string> choose_folder(QWidget* parent, std::string_view title,
                                         std::string_view start_directory) {
    QFileDialog dialog(parent, text_of(title));
    dialog.setOptions(QFileDialog::DontUseNativeDialog | QFileDialog::ShowDirsOnly |
                      QFileDialog::ReadOnly);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setLabelText(QFileDialog::Accept, QStringLiteral("OK"));
    start_in(dialog, start_directory);

    // Below the dialog's own controls: the folder that OK would store.
    auto* label = new QLabel(QStringLiteral("Current Directory:"), &dialog);
    label->setObjectName(QLatin1String(CURRENT_FOLDER_LABEL));
    auto* field = new QLineEdit(&dialog);
    field->setObjectName(QLatin1String(CURRENT_FOLDER_FIELD));
    field->setReadOnly(true);
    if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout())) {
        const int row = grid->rowCount();
        grid->addWidget(label, row, 0);
        grid->addWidget(field, row, 1, 1, grid->columnCount() - 1);
    }
    // The folder the user went into, or the one highlighted in it: OK takes that one.
    auto show_folder = [&dialog, field](const QString& path) {
        const bool folder = !path.isEmpty() && QFileInfo(path).isDir();
        field->setText(QDir::cleanPath(folder ? path : dialog.directory().absolutePath()));
    };
    QObject::connect(&dialog, &QFileDialog::directoryEntered, field, show_folder);
    QObject::connect(&dialog, &QFileDialog::currentChanged, field, show_folder);
    show_folder(QString());

    if (dialog.exec() != QDialog::Accepted) return std::nullopt;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty()) return std::nullopt;
    return QDir::cleanPath(chosen.front()).toStdString();
}

}  // namespace trelvo::ui
