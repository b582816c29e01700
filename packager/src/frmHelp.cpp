#include "frmHelp.h"

#include "Twips.h"

#include <QPushButton>
#include <QTextBrowser>

using namespace shared_windows;

namespace packager {

QString frmHelp::Text() {
    return QStringLiteral(
        "<h3>QVRPackager</h3>"
        "<p>A package (<i>.qvr</i>) holds a plug-in's files in the folders they take below the "
        "game's Data Files folder, and the plug-in's details. Every change is written into the "
        "package file at once; there is nothing to save.</p>"
        "<p><b>File &gt; New...</b> creates an empty package with default details. "
        "<b>File &gt; Open...</b> opens a package (a zip file opens read-only, to look at). "
        "<b>File &gt; Import...</b> makes a new package of a downloaded archive (zip, 7z, rar, "
        "tar, or another package): what it holds for the Data Files folder is found below any "
        "folders around it, and when it holds numbered options, or it is not clear which "
        "folder that is, you choose in a list. <b>File &gt; Exit</b> ends the program.</p>"
        "<p><b>Package &gt; Add file...</b> adds the chosen files to the folder selected in the "
        "tree; with &lt;root&gt; or nothing selected they go straight into Data Files. "
        "<b>Package &gt; Add folder...</b> adds a folder with everything in it, its subfolders "
        "included, below the selected folder. Files and folders can also be dragged from a file "
        "manager and dropped onto a folder of the tree. A file that is in the package already is "
        "not added again; remove it first to put a newer one in. "
        "<b>Package &gt; Remove</b> takes the selected file, or the selected folder with "
        "everything in it, out of the package. <b>Package &gt; New Folder...</b> adds a folder "
        "below the parent you choose; it is kept once a file is added to it. A right click on "
        "the tree opens the same menu.</p>"
        "<p><b>Package Details</b>: edit the name, version, date, authors and required plug-ins, "
        "and the notes with <b>Notes...</b>; <b>Update Details</b> writes them into the package. "
        "When a plug-in is added and no required plug-ins are given, the masters the plug-ins "
        "name are written there; when fewer or others are given, their list is offered. "
        "<b>File Details</b> shows the stored details of the file clicked in the tree. New, Open "
        "and Exit ask before details typed but not written are lost.</p>"
        "<p><b>Names</b>: a package keeps its names and details in Windows-1252, the character "
        "set of Morrowind's own files, so a name or text may only hold characters of it (the "
        "letters of most Western European languages); a file whose name holds any other "
        "character is not added, and the details are not written until such a character is "
        "replaced. Names may not hold <i>\\ / : * ? \" &lt; &gt; |</i>, which Windows "
        "cannot store.</p>");
}

frmHelp::frmHelp(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("frmHelp"));
    setWindowTitle(QStringLiteral("QVRPackager Help"));
    setModal(true);
    setFixedSize(Tw(7200), Tw(6000));

    auto* text = new QTextBrowser(this);
    text->setObjectName(QStringLiteral("txHelp"));
    text->setGeometry(TwRect(120, 120, 6960, 5160));
    text->setHtml(Text());

    auto* close = new QPushButton(QStringLiteral("Close"), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    close->setGeometry(TwRect(5865, 5445, 1215, 375));
    close->setDefault(true);
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    FitAllTexts(this, kReadablePoints);
}

} // namespace packager
