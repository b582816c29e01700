#include "frmReplace.h"

#include "Elide.h"
#include "Twips.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

using namespace shared_windows;

namespace packager {

namespace {

QLabel* PlainLabel(QWidget* parent, const char* name, const QRect& place) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    // The names come from the author's disk or a stranger's package: never markup.
    label->setTextFormat(Qt::PlainText);
    label->setGeometry(place);
    return label;
}

} // namespace

frmReplace::frmReplace(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::MSWindowsFixedSizeDialogHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmReplace"));
    setWindowTitle(QStringLiteral("File Exists"));
    setModal(true);
    setFixedSize(Tw(6030), Tw(2880));
    QFont font = this->font();
    font.setPointSizeF(8.25);
    setFont(font);

    QLabel* question = PlainLabel(this, "Label1", TwRect(240, 240, 5535, 495));
    question->setText(QStringLiteral("The package already holds a file of this name. Replace it "
                                     "with the file being added?"));
    question->setWordWrap(true);
    question->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_lblFile = PlainLabel(this, "lblFile", TwRect(240, 780, 5535, 285));
    QFont bold = font;
    bold.setBold(true);
    m_lblFile->setFont(bold);
    m_lblFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_lblSource = PlainLabel(this, "lblSource", TwRect(240, 1110, 5535, 285));
    m_lblSource->setTextInteractionFlags(Qt::TextSelectableByMouse);

    m_chkAll = new QCheckBox(QStringLiteral("Do the same for every file this add finds in the "
                                            "package."),
                             this);
    m_chkAll->setObjectName(QStringLiteral("chkAll"));
    m_chkAll->setGeometry(TwRect(240, 1560, 5535, 375));

    auto* replace = new QPushButton(QStringLiteral("Replace"), this);
    replace->setObjectName(QStringLiteral("cmdReplace"));
    replace->setGeometry(TwRect(120, 2340, 1215, 375));
    connect(replace, &QPushButton::clicked, this, [this] {
        m_replace = true;
        accept();
    });
    // Skip is the default: Enter never overwrites an author's file unasked.
    auto* skip = new QPushButton(QStringLiteral("Skip"), this);
    skip->setObjectName(QStringLiteral("cmdSkip"));
    skip->setGeometry(TwRect(1440, 2340, 1215, 375));
    skip->setDefault(true);
    connect(skip, &QPushButton::clicked, this, [this] {
        m_replace = false;
        accept();
    });

    FitAllTexts(this, kReadablePoints);
}

frmReplace::Answer frmReplace::Ask(const QString& key, const QString& source) {
    m_replace = false;
    m_chkAll->setChecked(false);
    SetElided(m_lblFile, key, Qt::ElideMiddle);
    SetElided(m_lblSource, QStringLiteral("with ") + source, Qt::ElideMiddle);
    exec();
    return {m_replace, m_chkAll->isChecked()};
}

} // namespace packager
