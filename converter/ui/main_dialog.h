// CMainDlg: the window of an interactive session. The user gathers input
// documents, chooses the output folder, edits the PDF settings and starts a
// run; converted files appear in the output list, from which they open.
//
// Persisted under the product key (HKLM): SaveFolder, LastOpenFolder and
// MakeOne (read at start, written when the window closes) and IsSimpleMode
// (written after every closing of the settings dialog). The stored PDF
// settings are read at start and written after OK in the settings dialog.
#pragma once

#include <QDialog>
#include <QSet>
#include <atomic>
#include <memory>
#include <QStringList>
#include <functional>
#include <optional>

#include "context.h"
#include "settings_dialog.h"

class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QTreeWidget;

namespace platform {
class Window;
struct WindowMessage;
}  // namespace platform

namespace vellumate::ui {

class CProgressDlg;
class InputList;

// The choosers the dialog asks; the real ones are the toolkit's file
// dialogs, tests put their own answers here.
struct Choosers {
    // Add File: the chosen files (empty on Cancel).
    std::function<QStringList(QWidget* owner)> files;
    // Add Folder: the chosen folder and the "Include subfolders" box, or
    // nothing on Cancel. `start` is LastOpenFolder.
    struct FolderChoice {
        QString folder;
        bool subfolders = false;
    };
    std::function<std::optional<FolderChoice>(QWidget* owner, const QString& start)> addFolder;
    // Browse: the chosen save folder, or nothing on Cancel.
    std::function<std::optional<QString>(QWidget* owner, const QString& start)> saveFolder;
    // The settings dialog is run with this (exec() by default).
    std::function<int(CAdvSettingsDlg& dialog)> runSettings;

    static Choosers Real();
};

class CMainDlg final : public QDialog {
    Q_OBJECT
public:
    static constexpr int kInputLimit = 0x400000;

    // ctx outlives the dialog. Initialisation (stored values included) runs here.
    explicit CMainDlg(ConversionContext& ctx, Choosers choosers = Choosers::Real(), int inputLimit = kInputLimit);
    ~CMainDlg() override;

    // The list commands and buttons.
    void AddFile();
    // Appends the files (Add File, a drop): duplicates are skipped, a full
    // list warns and stops.
    void AddFiles(const QStringList& files);
    void AddFolder();
    void Remove();
    // Moves every selected input entry by d places (up for d > 0).
    void MoveSelection(int d);
    void Browse();
    void PdfSettings();
    void Convert();
    // Appends an input path unless the list holds it (case ignored) or is full
    // (then the limit warning, with `warn`). False when it was not added.
    bool AddInput(const QString& path, bool warn = true);
    // Appends the files of `folder` that match `pattern` ("*.ext"), and with
    // `recurse` those of every folder below. False when the list filled up.
    bool AddFilesFromFolder(const QString& folder, const QString& pattern, bool recurse);
    // Opens a document with the desktop's opener (message 2035 on failure).
    void OpenDocument(const QString& path);
    void OpenSaveFolder();

    QStringList Inputs() const;
    QStringList Outputs() const;
    QString SaveFolderText() const { return saveFolder_; }
    QString LastOpenFolder() const { return lastOpenFolder_; }
    CAdvSettingsDlg& SettingsDialog() { return settingsDlg_; }
    // The progress window of the run under way; null between runs.
    CProgressDlg* Progress() const { return progress_; }
    bool Running() const { return progress_ != nullptr; }
    // The result of the last ConvertFile of the last run (0 when none ran).
    std::int32_t LastResult() const { return lastResult_; }

    // The messages other processes send to the window (listed in the window
    // directory under its title): WM_COPYDATA with the run's print-job
    // identifier stores its text as the received print job; answers 1.
    // Runs on the window's thread (the event loop, or a pump during a run).
    std::int64_t HandleMessage(const platform::WindowMessage& message);

    // The list's drag: the entry it began on, then the drop.
    void BeginDrag(int start) { dragStart_ = start; }
    void DropOn(int index);

signals:
    // A run is about to start its files (tests cancel from here).
    void RunStarted();

protected:
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Build();
    void LoadStored();
    void SaveStored();
    void ReadControls();
    void WriteControls();
    void UpdateEnabling();
    void EnableControls(bool on);
    void RebuildKeys();

    ConversionContext& ctx_;
    Choosers choosers_;
    const int inputLimit_;
    CAdvSettingsDlg settingsDlg_;
    QString lastOpenFolder_;
    QString saveFolder_;
    int dragStart_ = -1;
    std::int32_t lastResult_ = 0;
    CProgressDlg* progress_ = nullptr;
    QSet<QString> inputKeys_;  // case-folded input texts, for the duplicate check
    // The window's entry in the window directory; its messages arrive on a
    // thread of their own and are handed to the event loop.
    std::unique_ptr<platform::Window> directoryEntry_;
    std::atomic<bool> closing_{false};

    InputList* input_;
    QTreeWidget* output_;
    QLineEdit* saveEdit_;
    QCheckBox* makeOne_;
    QPushButton *addFile_, *addFolder_, *remove_, *moveUp_, *moveDown_, *browse_, *settings_, *convert_;
};

}  // namespace vellumate::ui
