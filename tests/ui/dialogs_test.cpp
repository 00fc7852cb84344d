// The dialogs the window opens for the operations: the open-file dialog with its types, the
// folder chooser behind "Directory", and the autotest slot dialog.
#include <sys/file.h>

#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <ostream>

#include "operations/operation_table.h"
#include "protocol/file_choice.h"
#include "protocol/tester_commands.h"
#include "tests/ui/window_fixture.h"
#include "ui/file_dialogs.h"

namespace trelvo::ui::testing {
namespace {

// The names of the files (not folders) the dialog lists, sorted.
std::vector<std::string> listed_files(QFileDialog& dialog) {
    auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
    std::vector<std::string> names;
    if (view == nullptr) return names;
    const QAbstractItemModel& model = *view->model();
    const QModelIndex root = view->rootIndex();
    const QDir folder = dialog.directory();
    for (int row = 0; row < model.rowCount(root); ++row) {
        const QModelIndex index = model.index(row, 0, root);
        const QString name = index.data().toString();
        if ((model.flags(index) & Qt::ItemIsEnabled) == 0) continue;
        if (QFileInfo(folder.filePath(name)).isFile()) names.push_back(name.toStdString());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> type_list(QFileDialog& dialog) {
    std::vector<std::string> types;
    auto* combo = dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo"));
    for (int i = 0; combo != nullptr && i < combo->count(); ++i)
        types.push_back(combo->itemText(i).toStdString());
    return types;
}

class FileDialogTest : public WindowTest {
  protected:
    void SetUp() override {
        WindowTest::SetUp();
        fs::create_directories(dir / "in" / "old");
        for (const char* name :
             {"FIRMWARE.BIN", "firmware.bin", "Kv72.Bin", "LIST.AUT", "test.dld", "notes.txt"})
            std::ofstream(dir / "in" / name) << name;
    }
};

struct Types {
    const char* rule;
    int32_t operation;
    int32_t model;
    const char* first;               // the first type, selected; "All Files (*.*)" follows
    std::vector<std::string> files;  // listed under the first type
};
void PrintTo(const Types& t, std::ostream* os) {
    *os << t.rule;
}

class FileDialogTypes : public FileDialogTest, public ::testing::WithParamInterface<Types> {};

TEST_P(FileDialogTypes, FirstTypeListsItsFilesWhateverTheirCase) {
    const Types& t = GetParam();
    open();
    std::vector<std::string> types, files;
    modals.then([&](QWidget& widget) {
        auto& dialog = static_cast<QFileDialog&>(widget);
        types = type_list(dialog);
        EXPECT_TRUE(QTest::qWaitFor([&] { return listed_files(dialog) == t.files; }, WAIT_MS));
        files = listed_files(dialog);
        dialog.reject();
    });
    std::optional<std::string> chosen = window->file_dialog(
        file_filters(operation_table[t.operation - 1], t.model), (dir / "in").string() + "/");
    EXPECT_FALSE(chosen.has_value());
    EXPECT_EQ(types, (std::vector<std::string>{t.first, "All Files (*.*)"}));
    EXPECT_EQ(files, t.files);
}

const std::vector<std::string> IMAGES = {"FIRMWARE.BIN", "Kv72.Bin", "firmware.bin"};

INSTANTIATE_TEST_SUITE_P(
    Table, FileDialogTypes,
    ::testing::Values(
        Types{"FirmwareOfTheKv71", OP_FIRMWARE_UPDATE, MODEL_KV71, "KV71 Update (*.BIN)", IMAGES},
        Types{"FirmwareOfTheKv72", OP_FIRMWARE_UPDATE, MODEL_KV72, "KV72 Update (*.BIN)", IMAGES},
        Types{"FirmwareBeforeAnyTesterAnswered", OP_FIRMWARE_UPDATE, 0, "KV70 Update (*.BIN)",
              IMAGES},
        Types{"MobileList", OP_DOWNLOAD_MOBILE_LIST, 0, "Mobile List (*.AUT)", {"LIST.AUT"}},
        Types{"Autotest", OP_DOWNLOAD_AUTOTEST, 0, "Autotest (*.DLD)", {"test.dld"}}),
    [](const auto& info) { return std::string(info.param.rule); });

// Chooses `file` and presses Open. selectFile leaves the name field alone while the field has
// the focus, which it can gain before the handler runs on a loaded machine: the name goes
// into the field itself, and Open is pressed again until the dialog has taken it.
void open_file(QFileDialog& dialog, const fs::path& file) {
    const QString path = QString::fromStdString(file.string());
    dialog.selectFile(path);
    if (auto* name = dialog.findChild<QLineEdit*>("fileNameEdit")) name->setText(path);
    static_cast<QDialog&>(dialog).accept();
    if (dialog.isVisible())
        QTimer::singleShot(20, &dialog, [&dialog, file] { open_file(dialog, file); });
}

TEST_F(FileDialogTest, FileThatCannotBeOpenedIsSaidAndTheDialogComesAgainWhereItWas) {
    fs::create_directories(dir / "other");
    const fs::path locked = dir / "other" / "LOCKED.BIN";
    const fs::path good = dir / "other" / "FIRMWARE_V2_LONGNAME.BIN";
    std::ofstream(locked) << "locked";
    std::ofstream(good) << "0123456789";
    // Another program holds the file for writing.
    int holder = ::open(locked.c_str(), O_RDWR);
    ASSERT_EQ(::flock(holder, LOCK_EX), 0);
    state.directories[DIR_FIRMWARE] = (dir / "in").string() + "/";
    open();

    std::vector<std::string> started_in;
    auto choose = [&](const fs::path& file) {
        return [&, file](QWidget& widget) {
            auto& dialog = static_cast<QFileDialog&>(widget);
            started_in.push_back(dialog.directory().absolutePath().toStdString());
            open_file(dialog, file);
        };
    };
    modals.then(choose(locked));
    modals.then(choose(good));
    TransferRecord record;
    std::FILE* file = choose_file(state, *window, record, operation_table[OP_FIRMWARE_UPDATE - 1]);
    ::close(holder);
    ASSERT_NE(file, nullptr);
    std::fclose(file);
    EXPECT_EQ(modals.messages,
              std::vector<std::string>{"Invalid filename or file is write protected\n"});
    EXPECT_EQ(started_in,
              (std::vector<std::string>{(dir / "in").string(), (dir / "other").string()}));
    EXPECT_EQ(record.file_name, "FIRMWARE_V2_");
    EXPECT_EQ(record.file_size, 10u);
    EXPECT_EQ(state.directories[DIR_FIRMWARE], (dir / "other").string() + "/");
}

// ---- The folder chooser behind "Directory" ----

struct Folder {
    const char* rule;
    bool ok;
};
void PrintTo(const Folder& f, std::ostream* os) {
    *os << f.rule;
}

class FolderChooser : public WindowTest, public ::testing::WithParamInterface<Folder> {};

TEST_P(FolderChooser, StartsInTheReceivingFolderShowsWhereItIsAndStoresItOnOkOnly) {
    fs::create_directories(dir / "results" / "today");
    const std::string start = (dir / "results").string();
    state.directories[DIR_UL_RESULT] = start + "/";
    state.operation_index = 3;  // Upload Result List
    open();

    std::string title, ok_text, shown_at_start, shown_inside, caption;
    modals.then([&](QWidget& widget) {
        auto& dialog = static_cast<QFileDialog&>(widget);
        title = dialog.windowTitle().toStdString();
        ok_text = dialog.labelText(QFileDialog::Accept).toStdString();
        auto* field = dialog.findChild<QLineEdit*>(QLatin1String(CURRENT_FOLDER_FIELD));
        auto* label = dialog.findChild<QLabel*>(QLatin1String(CURRENT_FOLDER_LABEL));
        ASSERT_NE(field, nullptr);
        ASSERT_NE(label, nullptr);
        caption = label->text().toStdString();
        shown_at_start = field->text().toStdString();
        // The user opens the folder "today" with a double click.
        auto* view = dialog.findChild<QListView*>(QStringLiteral("listView"));
        QModelIndex today;
        bool found = QTest::qWaitFor(
            [&] {
                const QAbstractItemModel& model = *view->model();
                for (int row = 0; row < model.rowCount(view->rootIndex()); ++row) {
                    QModelIndex index = model.index(row, 0, view->rootIndex());
                    if (index.data().toString() == QLatin1String("today")) today = index;
                }
                return today.isValid();
            },
            WAIT_MS);
        ASSERT_TRUE(found);
        const QPoint at = view->visualRect(today).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, at);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return dialog.directory().dirName() == QLatin1String("today"); }, WAIT_MS));
        shown_inside = field->text().toStdString();
        if (GetParam().ok) {
            static_cast<QDialog&>(dialog).accept();
        } else {
            dialog.reject();
        }
    });
    QTest::mouseClick(&control<QPushButton>("directory_button"), Qt::LeftButton);
    EXPECT_TRUE(modals.handlers_done());
    EXPECT_EQ(title, "Upload Result List");
    EXPECT_EQ(ok_text, "OK");
    EXPECT_EQ(caption, "Current Directory:");
    EXPECT_EQ(shown_at_start, start);
    EXPECT_EQ(shown_inside, start + "/today");
    EXPECT_EQ(state.directories[DIR_UL_RESULT], GetParam().ok ? start + "/today/" : start + "/");
}

INSTANTIATE_TEST_SUITE_P(Table, FolderChooser,
                         ::testing::Values(Folder{"OkStoresTheFolder", true},
                                           Folder{"CancelKeepsTheOldOne", false}),
                         [](const auto& info) { return std::string(info.param.rule); });

// ---- The autotest slot dialog ----

constexpr std::string_view TWO_AUTOTESTS = "1,0,12,3,GSM BASIC\n2,0,12,3,QUICK, CHECK\n";

struct Press {
    int selected;  // entry selected before the press, -1 none
    const char* button;
};
struct SlotCase {
    const char* rule;
    std::string_view directory;
    std::vector<Press> presses;
    AutotestChoice choice;
    std::vector<std::string> messages;
};
void PrintTo(const SlotCase& c, std::ostream* os) {
    *os << c.rule;
}

class AutotestSlots : public WindowTest, public ::testing::WithParamInterface<SlotCase> {};

TEST_P(AutotestSlots, ButtonsEndWithTheirResultAndSlot) {
    const SlotCase& c = GetParam();
    open();
    std::string caption, label;
    std::vector<std::string> listed;
    for (const Press& press : c.presses) {
        modals.then([&, press](QWidget& dialog) {
            caption = dialog.windowTitle().toStdString();
            label =
                dialog.findChild<QLabel*>(QStringLiteral("directory_label"))->text().toStdString();
            auto* list = dialog.findChild<QListWidget*>(QStringLiteral("slot_list"));
            listed.clear();
            for (int i = 0; i < list->count(); ++i)
                listed.push_back(list->item(i)->text().toStdString());
            if (press.selected >= 0) list->setCurrentRow(press.selected);
            click_later(dialog.findChild<QPushButton*>(QLatin1String(press.button)));
        });
    }
    AutotestChoice choice = window->autotest_slot_dialog(c.directory);
    EXPECT_TRUE(modals.handlers_done());
    EXPECT_EQ(caption, "Trelvo kv70");
    EXPECT_EQ(label, "Autotest directory");
    EXPECT_EQ(listed, autotest_entries(c.directory));
    EXPECT_EQ(choice.result, c.choice.result);
    EXPECT_EQ(choice.slot, c.choice.slot);
    EXPECT_EQ(modals.messages, c.messages);
}

const std::string REPLACE_ERROR(REPLACE_WITHOUT_SELECTION);
const std::string DELETE_ERROR(DELETE_WITHOUT_SELECTION);

INSTANTIATE_TEST_SUITE_P(
    Table, AutotestSlots,
    ::testing::Values(
        SlotCase{
            "ReplaceTheSecond", TWO_AUTOTESTS, {{1, "replace_button"}}, {AUTOTEST_REPLACE, 2}, {}},
        SlotCase{
            "NewGoesBehindTheLast", TWO_AUTOTESTS, {{-1, "new_button"}}, {AUTOTEST_NEW, 3}, {}},
        SlotCase{"EmptyDirectoryNewIsSlotOne", "", {{-1, "new_button"}}, {AUTOTEST_NEW, 1}, {}},
        SlotCase{"ReplaceWithoutSelectionSaysSo",
                 "",
                 {{-1, "replace_button"}, {-1, "cancel_button"}},
                 {AUTOTEST_CANCEL, 0},
                 {REPLACE_ERROR}},
        SlotCase{"DeleteWithoutSelectionSaysSo",
                 TWO_AUTOTESTS,
                 {{-1, "delete_button"}, {0, "delete_button"}},
                 {AUTOTEST_DELETE, 1},
                 {DELETE_ERROR}}),
    [](const auto& info) { return std::string(info.param.rule); });

TEST_F(WindowTest, AutotestSlotDialogOfAnAutomaticRunTakesANewSlotByItself) {
    state.command_line_flags = CMD_AUTOMATIC;
    open();
    AutotestChoice choice = window->autotest_slot_dialog(TWO_AUTOTESTS);
    EXPECT_EQ(choice.result, AUTOTEST_NEW);
    EXPECT_EQ(choice.slot, 3);
    EXPECT_EQ(modals.unexpected, 0);
}

}  // namespace
}  // namespace trelvo::ui::testing
