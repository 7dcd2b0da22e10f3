#include "main_dialog.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>
#include <chrono>
#include <future>

#include "app.h"
#include "router.h"
#include "platform/sysinfo.h"
#include "platform/windows.h"
#include "progress_dialog.h"
#include "strings.h"
#include "system.h"
#include "widgets.h"

namespace vellumate::ui {

// The input list: entries move inside it by drag and drop, and files dropped
// from outside are added.
class InputList final : public QTreeWidget {
public:
    InputList(CMainDlg* owner, QWidget* parent) : QTreeWidget(parent), owner_(owner) {
        setDragEnabled(true);
        setAcceptDrops(true);
        setDragDropMode(QAbstractItemView::DragDrop);
        setDefaultDropAction(Qt::MoveAction);
        setDropIndicatorShown(true);
    }

protected:
    void startDrag(Qt::DropActions actions) override {
        owner_->BeginDrag(currentIndex().row());
        QTreeWidget::startDrag(actions);
    }
    void dragEnterEvent(QDragEnterEvent* e) override {
        QTreeWidget::dragEnterEvent(e);
        AcceptIfUsable(e);
    }
    void dragMoveEvent(QDragMoveEvent* e) override {
        QTreeWidget::dragMoveEvent(e);  // the drop indicator and scrolling near the edges
        AcceptIfUsable(e);
    }
    void dropEvent(QDropEvent* e) override {
        if (e->source() == this) {
            const QModelIndex at = indexAt(e->position().toPoint());
            if (at.isValid()) owner_->DropOn(at.row());
            // The entries were moved by the dialog; the view must not move them again.
            e->setDropAction(Qt::IgnoreAction);
            e->accept();
            return;
        }
        QStringList files;
        for (const QUrl& url : e->mimeData()->urls())
            if (url.isLocalFile() && QFileInfo(url.toLocalFile()).isFile()) files << url.toLocalFile();
        owner_->AddFiles(files);
        e->acceptProposedAction();
    }

private:
    void AcceptIfUsable(QDropEvent* e) {
        if (e->source() == this || e->mimeData()->hasUrls()) e->acceptProposedAction();
        else e->ignore();
    }
    CMainDlg* owner_;
};

namespace {

// Add Folder looks for these, in this order; the entries come grouped by pattern.
const char* const kFolderPatterns[] = {"*.txt", "*.chm", "*.htm", "*.html", "*.shtml", "*.mht", "*.tif",
                                       "*.tiff", "*.jpg", "*.jpeg", "*.gif", "*.bmp", "*.png", "*.emf",
                                       "*.ppt", "*.pot", "*.pps", "*.xlt", "*.xls", "*.xlw", "*.doc",
                                       "*.dot", "*.wps", "*.wri", "*.rtf"};

const char kFileFilter[] =
    "All Supported Files (*.jpg *.jpeg *.gif *.tiff *.tif *.bmp *.png *.emf *.ppt *.pot *.pps *.xlt *.xls *.xlw "
    "*.doc *.dot *.wps *.wri *.rtf *.htm *.html *.shtml *.mht *.chm *.txt);;"
    "MS PowerPoint Files (*.pot *.pps *.ppt);;"
    "MS Excel Files (*.xlt *.xls *.xlw);;"
    "MS Word Files (*.dot *.doc *.wps *.wri);;"
    "RTF Files (*.rtf);;"
    "HTML Files (*.mht *.htm *.html *.shtml);;"
    "CHM Files (*.chm);;"
    "TXT Files (*.txt);;"
    "Pictures (*.jpg *.jpeg *.gif *.tiff *.tif *.bmp *.png *.emf)";

QTreeWidget* MakeList(QTreeWidget* list) {
    list->setColumnCount(1);
    list->setHeaderLabels({Text(2025)});
    list->setRootIsDecorated(false);
    list->setUniformRowHeights(true);
    list->setSelectionBehavior(QAbstractItemView::SelectRows);
    list->header()->setStretchLastSection(true);
    return list;
}

QPushButton* Button(QWidget* parent, int id, int textId, int tipId) {
    auto* b = WithId(new QPushButton(Text(textId), parent), id);
    b->setToolTip(Text(tipId));
    b->setAutoDefault(false);
    return b;
}

void ErrorBox(const QString& text) {
    sys::MessageBox(ToUtf8(text), LoadString(IDS_ERROR_CAPTION), sys::Icon::Error);
}

QString PathKey(const QString& path) { return path.toCaseFolded(); }

}  // namespace

Choosers Choosers::Real() {
    Choosers c;
    c.files = [](QWidget* owner) {
        return QFileDialog::getOpenFileNames(owner, Text(2023), QString(), QString::fromLatin1(kFileFilter));
    };
    c.addFolder = [](QWidget* owner, const QString& start) -> std::optional<FolderChoice> {
        // The toolkit's own folder dialog, so that the check box can sit in it.
        QFileDialog dialog(owner);
        dialog.setFileMode(QFileDialog::Directory);
        dialog.setOption(QFileDialog::ShowDirsOnly);
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        dialog.setDirectory(start);
        auto* subfolders = WithId(new QCheckBox(Text(7127), &dialog), 101);
        if (auto* grid = qobject_cast<QGridLayout*>(dialog.layout()))
            grid->addWidget(subfolders, grid->rowCount(), 0, 1, grid->columnCount());
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
        return FolderChoice{dialog.selectedFiles().front(), subfolders->isChecked()};
    };
    c.saveFolder = [](QWidget* owner, const QString& start) -> std::optional<QString> {
        QString folder = QFileDialog::getExistingDirectory(owner, Text(2026), start);
        if (folder.isEmpty()) return std::nullopt;
        return folder;
    };
    c.runSettings = [](CAdvSettingsDlg& dialog) { return dialog.exec(); };
    return c;
}

CMainDlg::CMainDlg(ConversionContext& ctx, Choosers choosers, int inputLimit)
    : QDialog(nullptr, Qt::Window), ctx_(ctx), choosers_(std::move(choosers)), inputLimit_(inputLimit),
      settingsDlg_(ctx.programPath, this) {
    setObjectName("129");
    Build();
    LoadStored();
    WriteControls();
    convert_->setEnabled(false);
    UpdateEnabling();
    const std::string version = platform::ProductVersionString();
    setWindowTitle(Text(IDS_PRODUCT_KEY_NAME) + " " + (version.empty() ? QString("Undefined") : FromUtf8(version)));
    // Without a usable window directory the window simply cannot be reached.
    directoryEntry_ = platform::Window::Create("#32770", ToUtf8(windowTitle()), [this](const platform::WindowMessage& m) {
        if (closing_) return platform::LRESULT{0};
        // Answered on the event loop; the sender waits as long as it takes,
        // unless the window goes away meanwhile.
        auto answer = std::make_shared<std::promise<platform::LRESULT>>();
        std::future<platform::LRESULT> result = answer->get_future();
        QMetaObject::invokeMethod(
            this, [this, m, answer] { answer->set_value(HandleMessage(m)); }, Qt::QueuedConnection);
        while (result.wait_for(std::chrono::milliseconds(50)) != std::future_status::ready)
            if (closing_) return platform::LRESULT{0};
        return result.get();
    });
}

CMainDlg::~CMainDlg() {
    closing_ = true;
    directoryEntry_.reset();
    ctx_.mainWindow = nullptr;
}

std::int64_t CMainDlg::HandleMessage(const platform::WindowMessage& message) {
    if (message.msg == platform::WM_ACTIVATE && message.wParam == 1) {
        raise();
        activateWindow();
        return 0;
    }
    if (message.msg != platform::WM_COPYDATA) return 0;
    // Identifiers are 32-bit: the run's -1 (none) is 0xFFFFFFFF.
    if (static_cast<std::uint32_t>(message.copyDataId) == static_cast<std::uint32_t>(ctx_.printJobId)) {
        const std::string& data = message.copyData;
        ctx_.receivedPrintJob = data.substr(0, data.find('\0'));
    }
    return 1;
}

void CMainDlg::Build() {
    auto* hint = WithId(new QLabel(Text(7129), this), 1033);
    hint->setAlignment(Qt::AlignCenter);
    hint->setEnabled(false);
    input_ = WithId(new InputList(this, this), 1000);
    MakeList(input_)->setSelectionMode(QAbstractItemView::ExtendedSelection);
    input_->setToolTip(Text(3027));
    output_ = WithId(MakeList(new QTreeWidget(this)), 1006);
    output_->setSelectionMode(QAbstractItemView::SingleSelection);
    output_->setToolTip(Text(3021));
    addFile_ = Button(this, 1001, 7114, 3001);
    addFolder_ = Button(this, 1002, 7115, 3002);
    remove_ = Button(this, 1003, 7116, 3003);
    moveUp_ = Button(this, 1004, 7117, 3004);
    moveDown_ = Button(this, 1005, 7118, 3005);
    browse_ = Button(this, 1013, 7121, 3008);
    settings_ = Button(this, 1007, 7119, 3006);
    convert_ = Button(this, 1008, 7120, 3007);
    saveEdit_ = WithId(new QLineEdit(this), 1012);
    makeOne_ = WithId(new QCheckBox(Text(7126), this), 1110);
    makeOne_->setToolTip(Text(3023));

    auto* grid = new QGridLayout(this);
    grid->addWidget(hint, 0, 0, 1, 2);
    grid->addWidget(WithId(new QLabel(Text(7123), this), 1010), 1, 0);
    grid->addWidget(input_, 2, 0);
    auto* listButtons = new QVBoxLayout;
    for (QPushButton* b : {addFile_, addFolder_, remove_, moveUp_, moveDown_}) listButtons->addWidget(b);
    listButtons->addStretch();
    grid->addLayout(listButtons, 2, 1);
    grid->addWidget(WithId(new QLabel(Text(7124), this), 1011), 3, 0);
    grid->addWidget(saveEdit_, 4, 0);
    grid->addWidget(browse_, 4, 1);
    grid->addWidget(WithId(new QLabel(Text(7125), this), 1009), 5, 0);
    grid->addWidget(output_, 6, 0);
    auto* runButtons = new QVBoxLayout;
    runButtons->addWidget(settings_);
    runButtons->addStretch();
    runButtons->addWidget(makeOne_);
    runButtons->addWidget(convert_);
    grid->addLayout(runButtons, 6, 1);
    grid->setRowStretch(2, 1);
    grid->setRowStretch(6, 1);
    setSizeGripEnabled(true);

    connect(addFile_, &QPushButton::clicked, this, &CMainDlg::AddFile);
    connect(addFolder_, &QPushButton::clicked, this, &CMainDlg::AddFolder);
    connect(remove_, &QPushButton::clicked, this, &CMainDlg::Remove);
    connect(moveUp_, &QPushButton::clicked, this, [this] { MoveSelection(1); });
    connect(moveDown_, &QPushButton::clicked, this, [this] { MoveSelection(-1); });
    connect(browse_, &QPushButton::clicked, this, &CMainDlg::Browse);
    connect(settings_, &QPushButton::clicked, this, &CMainDlg::PdfSettings);
    connect(convert_, &QPushButton::clicked, this, &CMainDlg::Convert);
    connect(input_, &QTreeWidget::itemSelectionChanged, this, &CMainDlg::UpdateEnabling);
    for (QTreeWidget* list : {static_cast<QTreeWidget*>(input_), output_}) {
        list->installEventFilter(this);
        list->viewport()->installEventFilter(this);
    }
    resize(sizeHint().expandedTo(QSize(640, 520)));
    setMinimumSize(size());
}

void CMainDlg::LoadStored() {
    auto folderValue = [](const char* name) {
        std::string folder;
        if (ReadRegString("", name, &folder) && sys::IsFolder(folder)) return FromUtf8(folder);
        return FromUtf8(sys::DocumentsFolder());
    };
    saveFolder_ = folderValue("SaveFolder");
    lastOpenFolder_ = folderValue("LastOpenFolder");
    std::int32_t value = 0;
    ctx_.MakeOne = ReadRegInt("", "MakeOne", &value) && value != 0;
    ctx_.settings.Load();
    value = 1;
    settingsDlg_.simpleMode = !ReadRegInt("", "IsSimpleMode", &value) || value != 0;
}

void CMainDlg::SaveStored() {
    const bool saved[] = {WriteRegString("", "SaveFolder", ToUtf8(saveFolder_)),
                          WriteRegString("", "LastOpenFolder", ToUtf8(lastOpenFolder_)),
                          WriteRegBool("", "MakeOne", ctx_.MakeOne)};
    for (bool ok : saved)
        if (!ok) ErrorBox(Text(IDS_REGISTRY_SAVE_FAILED));
}

void CMainDlg::ReadControls() {
    saveFolder_ = saveEdit_->text();
    ctx_.MakeOne = makeOne_->isChecked();
}

void CMainDlg::WriteControls() {
    saveEdit_->setText(saveFolder_);
    makeOne_->setChecked(ctx_.MakeOne);
}

QStringList CMainDlg::Inputs() const {
    QStringList out;
    for (int i = 0; i < input_->topLevelItemCount(); ++i) out << input_->topLevelItem(i)->text(0);
    return out;
}

QStringList CMainDlg::Outputs() const {
    QStringList out;
    for (int i = 0; i < output_->topLevelItemCount(); ++i) out << output_->topLevelItem(i)->text(0);
    return out;
}

bool CMainDlg::AddInput(const QString& path, bool warn) {
    if (input_->topLevelItemCount() >= inputLimit_) {
        if (warn) sys::MessageBox(LoadString(2022), LoadString(2002), sys::Icon::Warning);
        return false;
    }
    const QString key = PathKey(path);
    if (inputKeys_.contains(key)) return false;
    inputKeys_.insert(key);
    input_->addTopLevelItem(new QTreeWidgetItem(QStringList{path}));
    return true;
}

void CMainDlg::RebuildKeys() {
    inputKeys_.clear();
    for (const QString& path : Inputs()) inputKeys_.insert(PathKey(path));
}

void CMainDlg::AddFile() {
    if (input_->topLevelItemCount() >= inputLimit_) {
        sys::MessageBox(LoadString(2022), LoadString(2002), sys::Icon::Warning);
        return;
    }
    AddFiles(choosers_.files(this));
}

void CMainDlg::AddFiles(const QStringList& files) {
    for (const QString& path : files) {
        if (input_->topLevelItemCount() >= inputLimit_) {
            sys::MessageBox(LoadString(2022), LoadString(2002), sys::Icon::Warning);
            break;
        }
        AddInput(path);
        convert_->setEnabled(true);
    }
    UpdateEnabling();
    if (QTreeWidgetItem* last = input_->topLevelItem(input_->topLevelItemCount() - 1)) input_->scrollToItem(last);
}

void CMainDlg::AddFolder() {
    const auto choice = choosers_.addFolder(this, lastOpenFolder_);
    if (!choice) return;
    lastOpenFolder_ = choice->folder;
    for (const char* pattern : kFolderPatterns)
        if (!AddFilesFromFolder(choice->folder, QString::fromLatin1(pattern), choice->subfolders)) break;
    convert_->setEnabled(input_->topLevelItemCount() > 0);
    UpdateEnabling();
}

bool CMainDlg::AddFilesFromFolder(const QString& folder, const QString& pattern, bool recurse) {
    const QString extension = pattern.mid(pattern.lastIndexOf('.') + 1);
    const QDir dir(folder);
    auto pathOf = [&](const QString& name) {
        QString path = folder + "/" + name;
        while (path.contains("//")) path.replace("//", "/");
        return path;
    };
    const QFileInfoList files = dir.entryInfoList(QDir::Files | QDir::Hidden | QDir::System, QDir::Name);
    for (const QFileInfo& file : files) {
        if (file.suffix().compare(extension, Qt::CaseInsensitive) != 0) continue;
        if (input_->topLevelItemCount() >= inputLimit_) {
            sys::MessageBox(LoadString(2022), LoadString(2002), sys::Icon::Warning);
            return false;
        }
        AddInput(pathOf(file.fileName()), false);
    }
    if (recurse) {
        // Linked folders are not entered: a link back up the tree would never end.
        const QFileInfoList folders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
        for (const QFileInfo& sub : folders) {
            if (input_->topLevelItemCount() >= inputLimit_) break;
            if (sub.isSymLink()) continue;
            AddFilesFromFolder(pathOf(sub.fileName()), pattern, true);
        }
    }
    return true;
}

void CMainDlg::Remove() {
    ReadControls();
    const QList<QTreeWidgetItem*> selected = input_->selectedItems();
    for (QTreeWidgetItem* item : selected) delete item;
    RebuildKeys();
    UpdateEnabling();
}

void CMainDlg::MoveSelection(int d) {
    ReadControls();
    const int count = input_->topLevelItemCount();
    if (d == 0 || count == 0) return;
    QTreeWidgetItem* current = input_->currentItem();
    std::vector<QTreeWidgetItem*> moved;
    auto moveOne = [&](int i) {
        QTreeWidgetItem* item = input_->topLevelItem(i);
        if (!item->isSelected()) return true;
        const int to = i - d;
        if (to < 0 || to >= count) return false;  // the walk stops at once
        input_->takeTopLevelItem(i);
        input_->insertTopLevelItem(to, item);
        moved.push_back(item);
        if (item == current) dragStart_ -= d;
        return true;
    };
    {
        const QSignalBlocker quiet(input_);
        if (d > 0) {
            for (int i = 0; i < count; ++i)
                if (!moveOne(i)) break;
        } else {
            for (int i = count - 1; i >= 0; --i)
                if (!moveOne(i)) break;
        }
        // Taking an entry out loses its selection; the moved ones keep theirs.
        for (QTreeWidgetItem* item : moved) item->setSelected(true);
        if (current) input_->setCurrentItem(current, 0, QItemSelectionModel::NoUpdate);
    }
    UpdateEnabling();
    input_->setFocus();
}

void CMainDlg::DropOn(int index) {
    if (dragStart_ >= 0 && index >= 0) MoveSelection(dragStart_ - index);
    dragStart_ = -1;
}

void CMainDlg::UpdateEnabling() {
    const int count = input_->topLevelItemCount();
    bool any = false;
    for (int i = 0; i < count && !any; ++i) any = input_->topLevelItem(i)->isSelected();
    remove_->setEnabled(any);
    moveUp_->setEnabled(any && !input_->topLevelItem(0)->isSelected());
    moveDown_->setEnabled(any && !input_->topLevelItem(count - 1)->isSelected());
}

void CMainDlg::EnableControls(bool on) {
    for (QWidget* w : std::initializer_list<QWidget*>{remove_, moveUp_, moveDown_, addFile_, addFolder_, browse_,
                                                       settings_, convert_, input_, output_})
        w->setEnabled(on);
    if (on) {
        UpdateEnabling();
        convert_->setFocus();
    }
}

void CMainDlg::Browse() {
    if (auto folder = choosers_.saveFolder(this, saveFolder_)) {
        saveFolder_ = *folder;
        WriteControls();
    }
}

void CMainDlg::PdfSettings() {
    settingsDlg_.settings = ctx_.settings;
    if (choosers_.runSettings(settingsDlg_) == QDialog::Accepted) {
        ctx_.settings = settingsDlg_.settings;
        if (!ctx_.settings.Save()) ErrorBox(Text(IDS_REGISTRY_SAVE_FAILED));
    }
    if (!WriteRegBool("", "IsSimpleMode", settingsDlg_.simpleMode)) ErrorBox(Text(IDS_REGISTRY_SAVE_FAILED));
}

void CMainDlg::Convert() {
    if (progress_) return;
    ReadControls();
    const QStringList inputs = Inputs();
    const int n = static_cast<int>(inputs.size());
    CProgressDlg progress(this, n * 5);
    progress.show();
    progress_ = &progress;
    ctx_.progress = &progress;
    ctx_.interactive = true;
    output_->clear();
    EnableControls(false);
    lastResult_ = 0;
    emit RunStarted();

    // A trailing "/" is dropped (but "/" itself stays a folder).
    while (saveFolder_.size() > 1 && saveFolder_.endsWith('/')) saveFolder_.chop(1);
    WriteControls();
    for (int i = 0; i < n; ++i) {
        const QString& path = inputs[i];
        const QString name = path.mid(path.lastIndexOf('/') + 1);
        progress.SetLines(Text(2010) + name + "...", QString());
        progress.ProcessMessages();
        const QString output = (saveFolder_ == "/" ? QString() : saveFolder_) + "/" + name + "." +
                               FromUtf8(ctx_.outputExtension);
        if (!sys::IsFolder(ToUtf8(saveFolder_))) {
            ErrorBox(QString::asprintf(LoadString(IDS_FOLDER_MISSING).c_str(), ToUtf8(saveFolder_).c_str()));
            continue;
        }
        ctx_.firstFile = i == 0;
        ctx_.lastFile = i == n - 1;
        ctx_.nextSources.clear();
        for (int k = i + 1; k < n && ctx_.nextSources.size() < ctx_.kNextSources; ++k)
            ctx_.nextSources.push_back(ToUtf8(inputs[k]));
        const std::int32_t r = ConvertFile(ctx_, ToUtf8(path), ToUtf8(output));
        lastResult_ = r;
        if (r == 0) {
            if (!ctx_.MakeOne || i == 0) output_->addTopLevelItem(new QTreeWidgetItem(QStringList{output}));
            continue;
        }
        if (r >= 1001 && ctx_.interactive)
            ErrorBox(QString::asprintf(LoadString(2041).c_str(), ToUtf8(path).c_str(), r));
        // The output the run gave up on is not listed.
        const int last = output_->topLevelItemCount() - 1;
        if (last >= 0 && !sys::CanOpenForReading(ToUtf8(output_->topLevelItem(last)->text(0))))
            delete output_->takeTopLevelItem(last);
        break;
    }
    progress.hide();
    ctx_.progress = nullptr;
    progress_ = nullptr;
    EnableControls(true);
}

void CMainDlg::OpenDocument(const QString& path) {
    if (sys::ShellOpen(ToUtf8(path)) <= 32)
        ErrorBox(QString::asprintf(LoadString(2035).c_str(), ToUtf8(path).c_str()));
}

void CMainDlg::OpenSaveFolder() {
    ReadControls();
    sys::ShellOpen(ToUtf8(saveFolder_));
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    // Closing during a run would pull the window from under the conversion.
    if (progress_) {
        event->ignore();
        return;
    }
    ReadControls();
    SaveStored();
    event->accept();
}

void CMainDlg::reject() { close(); }

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_F1) {
        ShowHelpTopic(ctx_.programPath, "");
        return;
    }
    // Enter does nothing outside the output list (which takes it itself).
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) return;
    QDialog::keyPressEvent(event);
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    const bool inputSide = watched == input_ || watched == input_->viewport();
    const bool outputSide = watched == output_ || watched == output_->viewport();
    if (!inputSide && !outputSide) return QDialog::eventFilter(watched, event);
    QTreeWidget* list = inputSide ? static_cast<QTreeWidget*>(input_) : output_;
    switch (event->type()) {
    case QEvent::MouseButtonDblClick: {
        const QPoint pos = static_cast<QMouseEvent*>(event)->position().toPoint();
        QTreeWidgetItem* item = list->itemAt(watched == list ? list->viewport()->mapFrom(list, pos) : pos);
        if (item) OpenDocument(item->text(0));
        else if (inputSide) AddFile();
        else OpenSaveFolder();
        return true;
    }
    case QEvent::KeyPress: {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (watched == input_ && key == Qt::Key_Delete) return Remove(), true;
        if (watched == input_ && key == Qt::Key_Insert) return AddFile(), true;
        if (watched == output_ && (key == Qt::Key_Return || key == Qt::Key_Enter)) {
            const QList<QTreeWidgetItem*> selected = output_->selectedItems();
            if (selected.isEmpty()) OpenSaveFolder();
            else OpenDocument(selected.front()->text(0));
            return true;
        }
        break;
    }
    case QEvent::FocusIn:
        if (watched == list && list->topLevelItemCount() > 0 && list->selectedItems().isEmpty())
            list->topLevelItem(0)->setSelected(true);
        break;
    default: break;
    }
    return QDialog::eventFilter(watched, event);
}

}  // namespace vellumate::ui
