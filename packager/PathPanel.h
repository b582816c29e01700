#pragma once
// The status bar's path panel: a note that always stays in view ("Read-only zip file: "), then
// the path, shortened in the middle when the panel is too narrow, in full in the tooltip.

#include <QLabel>

namespace packager {

class PathPanel : public QLabel {
    Q_OBJECT
public:
    explicit PathPanel(QWidget* parent = nullptr);

    void SetPath(const QString& note, const QString& path);
    // note + path, whatever the panel's width.
    QString FullText() const;
    // What is shown at the panel's present width; text() answers the same.
    QString ShownText() const;

    QSize minimumSizeHint() const override;

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    // The label draws its own text, so that what it holds is what can be seen.
    void ShowFitting();

    QString m_note;
    QString m_path;
};

} // namespace packager
