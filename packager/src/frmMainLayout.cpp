#include "Looks.h"
#include "PackageTree.h"
#include "PathPanel.h"
#include "Twips.h"
#include "frmMain.h"

#include <QEvent>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTimer>

using namespace shared_windows;

// The main window's menus, controls and their places after a resize.

namespace packager {

namespace {

// The layout rule works on the window's outer size, in twips. A frame adds 120 to the inner
// width; for the height 800 is counted, so that the rule's own 800 leave the tree the whole
// height between the menu and the status bar.
constexpr int kOuterExtraWidth = 120;
constexpr int kOuterExtraHeight = 800;
constexpr int kTwipsPerPixel = 15;
constexpr int kFrameWidth = 4875;
constexpr int kMinTreeWidth = 2400;
constexpr int kDetailsBottom = 4080 + 2775; // the lower frame's bottom edge
// The details' columns: captions from the frame's left edge, values from kValueLeft, wide
// enough for the longest caption at 8 points with a clear gap before its value; the values
// end as far from the frame's right edge as the captions start from its left.
constexpr int kCaptionLeft = 180;
constexpr int kValueLeft = 1680;
constexpr int kValueWidth = kFrameWidth - kCaptionLeft - kValueLeft;
constexpr int kShortValueWidth = 1755;
constexpr int kDesignTreeHeight = 6975;

QLabel* FieldLabel(QWidget* parent, const QString& text, int top) {
    auto* label = new QLabel(text, parent);
    label->setGeometry(TwRect(kCaptionLeft, top, kValueLeft - kCaptionLeft - 90, 315));
    label->setProperty("designTop", top);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}

QLineEdit* LineBox(QWidget* parent, const char* name, const QRect& rect) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QLatin1String(name));
    box->setGeometry(rect);
    return box;
}

QLineEdit* DetailBox(QWidget* parent, const char* name, const QRect& rect) {
    QLineEdit* box = LineBox(parent, name, rect);
    box->setReadOnly(true);
    QPalette pal = box->palette();
    pal.setColor(QPalette::Base, QColor(0xFF, 0xFF, 0xE6));
    box->setPalette(pal);
    return box;
}

template <typename W> void UnifyFontSizes(const QList<W*>& widgets) {
    double smallest = 0;
    for (W* w : widgets) {
        if (smallest == 0 || w->font().pointSizeF() < smallest)
            smallest = w->font().pointSizeF();
    }
    for (W* w : widgets) {
        QFont f = w->font();
        f.setPointSizeF(smallest);
        w->setFont(f);
    }
}

} // namespace

frmAbout::Options AboutOptions() {
    return {
        QStringLiteral("QVR Packager"), QStringLiteral("Version 1.1"), Artwork::Moss(),
        QRect(240, 2340, 2445, 285),    QRect(6960, 2340, 885, 345),   QRect(600, 2400, 6855, 255)};
}

ArchiveTree::Options TreeOptions() {
    // File rows carry the document image as the installer's do, so that they are as tall as
    // folder rows and their names line up with their sibling folders' names.
    return {true, RootKey};
}

void frmMain::BuildMenus() {
    QMenuBar* bar = menuBar();
    auto item = [this](QMenu* menu, const char* name, const QString& text,
                       void (frmMain::*slot)()) {
        QAction* action = menu->addAction(text);
        action->setObjectName(QLatin1String(name));
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    QMenu* file = bar->addMenu(QStringLiteral("&File"));
    file->setObjectName(QStringLiteral("mnuFile"));
    m_newAction = item(file, "mNew", QStringLiteral("&New..."), &frmMain::mNew_Click);
    m_newAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+N")));
    m_openAction = item(file, "mOpen", QStringLiteral("&Open..."), &frmMain::mOpen_Click);
    m_openAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    m_importAction = item(file, "mImport", QStringLiteral("&Import..."), &frmMain::mImport_Click);
    file->addSeparator();
    m_exitAction = item(file, "mExit", QStringLiteral("E&xit"), &frmMain::mExit_Click);
    m_exitAction->setShortcut(QKeySequence(QStringLiteral("Ctrl+Q")));

    m_packageMenu = bar->addMenu(QStringLiteral("&Package"));
    m_packageMenu->setObjectName(QStringLiteral("mnuPackage"));
    m_addAction =
        item(m_packageMenu, "mAddfile", QStringLiteral("&Add file..."), &frmMain::mAddfile_Click);
    m_addFolderAction = item(m_packageMenu, "mAddfolder", QStringLiteral("Add &folder..."),
                             &frmMain::mAddfolder_Click);
    m_removeAction =
        item(m_packageMenu, "mRemove", QStringLiteral("&Remove"), &frmMain::mRemove_Click);
    // Delete removes only in the tree (which handles the key itself): in a text box it deletes
    // text, as everywhere. The menu shows the key.
    m_removeAction->setShortcut(QKeySequence(Qt::Key_Delete));
    m_removeAction->setShortcutContext(Qt::WidgetShortcut);
    m_packageMenu->addSeparator();
    m_newFolderAction = item(m_packageMenu, "mNewFolder", QStringLiteral("&New Folder..."),
                             &frmMain::mNewFolder_Click);

    QMenu* help = bar->addMenu(QStringLiteral("&Help"));
    help->setObjectName(QStringLiteral("mnuHelp"));
    item(help, "mContents", QStringLiteral("&Contents"), &frmMain::mContents_Click);
    item(help, "mAbout", QStringLiteral("&About"), &frmMain::mAbout_Click);
}

void frmMain::BuildControls() {
    auto* central = new QWidget(this);
    central->setObjectName(QStringLiteral("MainArea"));
    setCentralWidget(central);
    central->installEventFilter(this);

    m_treeWidget = new PackageTree(central);
    m_treeWidget->setObjectName(QStringLiteral("tvFileList"));
    m_treeWidget->setGeometry(TwRect(0, 0, 4695, 6975));
    connect(m_treeWidget, &PackageTree::NodeClick, this, &frmMain::tvFileList_NodeClick);
    connect(m_treeWidget, &PackageTree::MenuRequested, this, &frmMain::tvFileList_MenuRequested);
    connect(m_treeWidget, &PackageTree::FilesDropped, this, &frmMain::tvFileList_FilesDropped);
    connect(m_treeWidget, &PackageTree::DeletePressed, this, &frmMain::mRemove_Click);

    m_frame1 = new QGroupBox(QStringLiteral("Package Details"), central);
    m_frame1->setObjectName(QStringLiteral("Frame1"));
    m_frame1->setGeometry(TwRect(4920, 0, kFrameWidth, 4035));
    FieldLabel(m_frame1, QStringLiteral("Name:"), 360);
    FieldLabel(m_frame1, QStringLiteral("Version:"), 720);
    FieldLabel(m_frame1, QStringLiteral("Last Updated:"), 1080);
    FieldLabel(m_frame1, QStringLiteral("Author(s):"), 1440);
    FieldLabel(m_frame1, QStringLiteral("Dependencies:"), 2460);
    m_pluginName = LineBox(m_frame1, "txPluginName", TwRect(kValueLeft, 360, kValueWidth, 315));
    m_version = LineBox(m_frame1, "txVersion", TwRect(kValueLeft, 720, kValueWidth, 315));
    m_lastUpdate = LineBox(m_frame1, "txLastUpdate", TwRect(kValueLeft, 1080, kValueWidth, 315));
    m_authors = new QPlainTextEdit(m_frame1);
    m_authors->setObjectName(QStringLiteral("txAuthors"));
    m_authors->setGeometry(TwRect(kValueLeft, 1440, kValueWidth, 975));
    m_depends = new QPlainTextEdit(m_frame1);
    m_depends->setObjectName(QStringLiteral("txDepends"));
    m_depends->setGeometry(TwRect(kValueLeft, 2460, kValueWidth, 975));
    // One plug-in file a line: a long name scrolls rather than breaking in the middle.
    m_depends->setLineWrapMode(QPlainTextEdit::NoWrap);
    for (QPlainTextEdit* box : {m_authors, m_depends}) {
        box->setTabChangesFocus(true);
        connect(box, &QPlainTextEdit::textChanged, this, &frmMain::PackageDetailChanged);
    }
    for (QLineEdit* box : {m_pluginName, m_version, m_lastUpdate}) {
        box->installEventFilter(this);
        connect(box, &QLineEdit::textChanged, this, &frmMain::PackageDetailChanged);
    }
    m_update = new QPushButton(QStringLiteral("Update Details"), m_frame1);
    m_update->setObjectName(QStringLiteral("cmdUpdate"));
    m_update->setGeometry(TwRect(kCaptionLeft, 3540, 1620, 375));
    connect(m_update, &QPushButton::clicked, this, &frmMain::cmdUpdate_Click);
    m_notesButton = new QPushButton(QStringLiteral("Notes..."), m_frame1);
    m_notesButton->setObjectName(QStringLiteral("cmdNotes"));
    m_notesButton->setGeometry(TwRect(kValueLeft + kValueWidth - 1215, 3540, 1215, 375));
    connect(m_notesButton, &QPushButton::clicked, this, &frmMain::cmdNotes_Click);

    BuildFileDetails(central);

    // The layout was drawn for an 8-point font; captions that still do not fit get a smaller
    // one, never below what can be read, and each kind of caption then takes the smallest so
    // the window looks even.
    QFont font = central->font();
    font.setPointSizeF(8.25);
    central->setFont(font);
    FitAllTexts(central, kReadablePoints);
    UnifyFontSizes(central->findChildren<QLabel*>());
    UnifyFontSizes(QList<QPushButton*>{m_update, m_notesButton});

    QStatusBar* bar = statusBar();
    bar->setObjectName(QStringLiteral("StatusBar1"));
    bar->setSizeGripEnabled(true);
    // Wide enough for usual counts and sizes, not so wide that the path loses its room.
    const int widths[2] = {Tw(1500), Tw(1700)};
    for (int i = 0; i < 2; ++i) {
        m_panels[i] = new QLabel(bar);
        m_panels[i]->setObjectName(QStringLiteral("Panel%1").arg(i + 1));
        m_panels[i]->setFrameShape(QFrame::Panel);
        m_panels[i]->setFrameShadow(QFrame::Sunken);
        m_panels[i]->setMinimumWidth(widths[i]);
        bar->addWidget(m_panels[i]);
    }
    m_pathPanel = new PathPanel(bar);
    m_pathPanel->setObjectName(QStringLiteral("Panel3"));
    m_pathPanel->setFrameShape(QFrame::Panel);
    m_pathPanel->setFrameShadow(QFrame::Sunken);
    bar->addWidget(m_pathPanel, 1);

    // The smallest window in which both frames are whole and the tree keeps a usable width.
    const int menuHeight = menuBar()->sizeHint().height();
    setMinimumSize(Tw(kFrameWidth + 400 + kMinTreeWidth),
                   Tw(kDetailsBottom + 120) + menuHeight + bar->sizeHint().height());
}

// The selected file's details, shown and never typed into.
void frmMain::BuildFileDetails(QWidget* central) {
    m_frame2 = new QGroupBox(QStringLiteral("File Details"), central);
    m_frame2->setObjectName(QStringLiteral("Frame2"));
    m_frame2->setGeometry(TwRect(4920, 4080, kFrameWidth, 2775));
    FieldLabel(m_frame2, QStringLiteral("Name:"), 360);
    FieldLabel(m_frame2, QStringLiteral("Date:"), 720);
    FieldLabel(m_frame2, QStringLiteral("Size:"), 1080);
    FieldLabel(m_frame2, QStringLiteral("Date Archived:"), 1440);
    FieldLabel(m_frame2, QStringLiteral("Compressed:"), 1800);
    m_fileName = DetailBox(m_frame2, "txFileName", TwRect(kValueLeft, 360, kValueWidth, 315));
    m_fileDate = DetailBox(m_frame2, "txFileDate", TwRect(kValueLeft, 720, kValueWidth, 315));
    m_fileSize = DetailBox(m_frame2, "txFileSize", TwRect(kValueLeft, 1080, kShortValueWidth, 315));
    m_dateArc = DetailBox(m_frame2, "txDateArc", TwRect(kValueLeft, 1440, kValueWidth, 315));
    m_comprSize =
        DetailBox(m_frame2, "txComprSize", TwRect(kValueLeft, 1800, kShortValueWidth, 315));
    for (int top : {1080, 1800}) {
        auto* bytes = new QLabel(QStringLiteral("bytes"), m_frame2);
        bytes->setGeometry(TwRect(kValueLeft + kShortValueWidth + 60, top, 900, 315));
        bytes->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    }
    m_fileSize->setAlignment(Qt::AlignRight);
    m_comprSize->setAlignment(Qt::AlignRight);
}

void frmMain::ShowReadOnlyLook(bool readOnly) {
    // Boxes that take no typing look it, as the File Details boxes do.
    for (QWidget* box : std::initializer_list<QWidget*>{m_pluginName, m_version, m_lastUpdate,
                                                        m_authors, m_depends}) {
        QPalette pal = box->palette();
        pal.setColor(QPalette::Base, readOnly ? palette().color(QPalette::Window)
                                              : palette().color(QPalette::Base));
        box->setPalette(pal);
    }
}

void frmMain::Form_Resize() {
    const QWidget* area = centralWidget();
    const int statusHeight = statusBar()->isVisible() ? statusBar()->height() * kTwipsPerPixel : 0;
    const int outerWidth = area->width() * kTwipsPerPixel + kOuterExtraWidth;
    const int outerHeight = area->height() * kTwipsPerPixel + statusHeight + kOuterExtraHeight;
    const ResizeResult r =
        ApplyResizeRule(outerWidth, outerHeight, kFrameWidth, kFrameWidth, statusHeight);
    if (r.Frame1Left)
        m_frame1->move(Tw(*r.Frame1Left), m_frame1->y());
    if (r.Frame2Left)
        m_frame2->move(Tw(*r.Frame2Left), m_frame2->y());
    if (r.TreeWidth)
        m_treeWidget->resize(Tw(*r.TreeWidth), m_treeWidget->height());
    if (r.TreeHeight)
        m_treeWidget->resize(m_treeWidget->width(), Tw(*r.TreeHeight));
    GrowDetails(r.TreeHeight ? std::max(0, *r.TreeHeight - kDesignTreeHeight) : 0);
}

// The height a window taller than designed has to spare goes to the two lists of the details,
// half each; the rest of the details moves down with them.
void frmMain::GrowDetails(int extraTwips) {
    const int extra = Tw(extraTwips);
    const int half = extra / 2;
    m_frame1->resize(m_frame1->width(), Tw(4035) + extra);
    m_authors->resize(m_authors->width(), Tw(975) + half);
    m_depends->setGeometry(m_depends->x(), Tw(2460) + half, m_depends->width(),
                           Tw(975) + extra - half);
    for (QPushButton* button : {m_update, m_notesButton})
        button->move(button->x(), Tw(3540) + extra);
    for (QLabel* caption : m_frame1->findChildren<QLabel*>()) {
        if (caption->property("designTop").toInt() == 2460)
            caption->move(caption->x(), Tw(2460) + half);
    }
    m_frame2->move(m_frame2->x(), Tw(4080) + extra);
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    if (watched == centralWidget() && event->type() == QEvent::Resize) {
        Form_Resize();
    } else if (event->type() == QEvent::FocusIn) {
        // Entering a one-line detail box selects its text, so typing replaces it. A mouse
        // click places the caret after focus arrives, so select again once it has.
        if (auto* box = qobject_cast<QLineEdit*>(watched)) {
            box->selectAll();
            QTimer::singleShot(0, box, [box] {
                if (box->hasFocus())
                    box->selectAll();
            });
        }
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace packager
