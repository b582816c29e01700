#pragma once
// The status bar's path panel: a note that always stays in view ("Read-only zip file: "), then
// the path, shortened in the middle when the panel is too narrow, in full in the tooltip.

#include <QLabel>

namespace packager {

class PathPanel : public QLabel {
    Q_OBJECT
public:
    explicit PathPanel(QWidget* parent = nullptr);

    // text() answers note + path, whatever is drawn.
    void SetPath(const QString& note, const QString& path);
    // What is drawn at the panel's present width.
    QString ShownText() const;

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString m_note;
    QString m_path;
};

} // namespace packager
