#include "Controls.h"

#include "QtPlatform.h"

#include <QFontMetricsF>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionFrame>
#include <QValidator>

namespace {

constexpr DWORD StaticAlignmentMask = 0x1F; // SS_TYPEMASK
constexpr DWORD SsCenter = 0x1;

// QLineEdit's own space between its contents rectangle and the text, at
// either side.
constexpr int LineEditHorizontalMargin = 2;

// Lines of one pixel, as Win32 draws its edges: the top and left sides in
// one colour, the bottom and right sides (with their corners) in another.
void DrawRing(QPainter &painter, const QRect &r, const QColor &topLeft, const QColor &bottomRight)
{
    painter.fillRect(QRect(r.left(), r.top(), r.width() - 1, 1), topLeft);
    painter.fillRect(QRect(r.left(), r.top(), 1, r.height() - 1), topLeft);
    painter.fillRect(QRect(r.left(), r.bottom(), r.width(), 1), bottomRight);
    painter.fillRect(QRect(r.right(), r.top(), 1, r.height()), bottomRight);
}

bool HasModalFrame(DWORD exStyle)
{
    return exStyle & WS_EX_DLGMODALFRAME;
}
bool HasStaticEdge(DWORD exStyle)
{
    return (exStyle & WS_EX_STATICEDGE) && !HasModalFrame(exStyle);
}

class Edit;

// Stops typing once the text fills the edit's visible width, for an edit that
// does not scroll its text. Text that gets no wider is taken, so deleting and
// replacing work in an edit whose text was made longer by the program.
class FitWidthValidator final : public QValidator {
public:
    explicit FitWidthValidator(Edit *edit);
    State validate(QString &input, int &) const override;

private:
    Edit *edit_;
};

class Edit final : public QLineEdit {
public:
    Edit(const DLGITEMRESOURCE &item, QWidget *parent)
        : QLineEdit(parent), style_(item.style), exStyle_(item.exStyle)
    {
        setFrame(false);
        setAutoFillBackground(true);
        setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        setTextMargins(platform::EdgeMargins(style_, exStyle_));
        if (!(style_ & ES_AUTOHSCROLL))
            setValidator(new FitWidthValidator(this));
        connect(this, &QLineEdit::textChanged, this,
                [this](const QString &text) { acceptedWidth_ = TextWidth(text); });
    }

    bool Fits(const QString &text) const
    {
        int width = TextWidth(text);
        return width <= VisibleWidth() || width <= acceptedWidth_;
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QLineEdit::paintEvent(event);
        QPainter painter(this);
        platform::DrawEdges(painter, rect(), style_, exStyle_, palette());
    }

private:
    // The width QLineEdit needs to show the text without scrolling it.
    int TextWidth(const QString &text) const
    {
        return qRound(QFontMetricsF(font()).horizontalAdvance(text)) + 1;
    }

    int VisibleWidth() const
    {
        QStyleOptionFrame option;
        initStyleOption(&option);
        QRect contents = style()->subElementRect(QStyle::SE_LineEditContents, &option, this);
        return contents.marginsRemoved(textMargins()).width() - 2 * LineEditHorizontalMargin;
    }

    DWORD style_;
    DWORD exStyle_;
    int acceptedWidth_ = 0;
};

FitWidthValidator::FitWidthValidator(Edit *edit) : QValidator(edit), edit_(edit)
{
}

QValidator::State FitWidthValidator::validate(QString &input, int &) const
{
    return edit_->Fits(input) ? Acceptable : Invalid;
}

class Static final : public QLabel {
public:
    Static(const DLGITEMRESOURCE &item, QWidget *parent)
        : QLabel(parent), style_(item.style), exStyle_(item.exStyle)
    {
        setTextFormat(Qt::PlainText);
        setWordWrap(true);
        DWORD alignment = style_ & StaticAlignmentMask;
        Qt::Alignment horizontal = alignment == SS_RIGHT   ? Qt::AlignRight
                                   : alignment == SsCenter ? Qt::AlignHCenter
                                                           : Qt::AlignLeft;
        setAlignment(horizontal | Qt::AlignTop);
        setContentsMargins(platform::EdgeMargins(style_, exStyle_));
    }

protected:
    void paintEvent(QPaintEvent *event) override
    {
        QLabel::paintEvent(event);
        QPainter painter(this);
        platform::DrawEdges(painter, rect(), style_, exStyle_, palette());
    }

private:
    DWORD style_;
    DWORD exStyle_;
};

} // namespace

namespace platform {

QMargins EdgeMargins(DWORD style, DWORD exStyle)
{
    int width = 0;
    if (HasModalFrame(exStyle))
        width += 3;
    else if (HasStaticEdge(exStyle))
        width += 1;
    if (style & WS_BORDER)
        width += 1;
    if (exStyle & WS_EX_CLIENTEDGE)
        width += 2;
    return QMargins(width, width, width, width);
}

// Outside in: the modal frame (a raised edge and a ring of the face colour)
// or the static edge (sunken, one pixel), the border line, the client edge
// (sunken, two pixels).
void DrawEdges(QPainter &painter, const QRect &rect, DWORD style, DWORD exStyle,
               const QPalette &palette)
{
    QRect r = rect;
    auto inset = [&r] { r.adjust(1, 1, -1, -1); };
    if (HasModalFrame(exStyle)) {
        DrawRing(painter, r, palette.color(QPalette::Midlight), palette.color(QPalette::Shadow));
        inset();
        DrawRing(painter, r, palette.color(QPalette::Light), palette.color(QPalette::Dark));
        inset();
        DrawRing(painter, r, palette.color(QPalette::Button), palette.color(QPalette::Button));
        inset();
    } else if (HasStaticEdge(exStyle)) {
        DrawRing(painter, r, palette.color(QPalette::Dark), palette.color(QPalette::Light));
        inset();
    }
    if (style & WS_BORDER) {
        DrawRing(painter, r, palette.color(QPalette::WindowText),
                 palette.color(QPalette::WindowText));
        inset();
    }
    if (exStyle & WS_EX_CLIENTEDGE) {
        DrawRing(painter, r, palette.color(QPalette::Dark), palette.color(QPalette::Light));
        inset();
        DrawRing(painter, r, palette.color(QPalette::Shadow), palette.color(QPalette::Midlight));
    }
}

QWidget *CreateControl(const DLGITEMRESOURCE &item, QWidget *dialog, const QRect &geometry)
{
    QString windowClass = QString::fromLatin1(item.windowClass ? item.windowClass : "");
    QString text = FromAnsi(item.text);
    bool tabStop = item.style & WS_TABSTOP;

    QWidget *control = nullptr;
    if (windowClass.compare(QLatin1String("BUTTON"), Qt::CaseInsensitive) == 0) {
        auto *button = new QPushButton(text, dialog);
        // The dialog procedure decides what Enter does: no default button.
        button->setAutoDefault(false);
        button->setDefault(false);
        button->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        control = button;
    } else if (windowClass.compare(QLatin1String("EDIT"), Qt::CaseInsensitive) == 0) {
        auto *edit = new Edit(item, dialog);
        edit->setText(text);
        edit->setCursorPosition(0);
        edit->setFocusPolicy(tabStop ? Qt::StrongFocus : Qt::ClickFocus);
        control = edit;
    } else if (windowClass.compare(QLatin1String("STATIC"), Qt::CaseInsensitive) == 0) {
        auto *label = new Static(item, dialog);
        label->setText(text);
        label->setFocusPolicy(Qt::NoFocus);
        control = label;
    } else {
        return nullptr;
    }
    control->setObjectName(QString::number(item.id));
    control->setGeometry(geometry);
    return control;
}

bool IsTabStop(const QWidget *control)
{
    return (control->focusPolicy() & Qt::TabFocus) && control->isEnabled();
}

QString ControlText(const QWidget *control)
{
    if (auto *edit = qobject_cast<const QLineEdit *>(control))
        return edit->text();
    if (auto *label = qobject_cast<const QLabel *>(control))
        return label->text();
    if (auto *button = qobject_cast<const QPushButton *>(control))
        return button->text();
    return {};
}

void SetControlText(QWidget *control, const QString &text)
{
    if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        edit->setText(text);
        edit->setCursorPosition(0);
    } else if (auto *label = qobject_cast<QLabel *>(control)) {
        label->setText(text);
    } else if (auto *button = qobject_cast<QPushButton *>(control)) {
        button->setText(text);
    }
}

void FocusFirstTabStop(QWidget *control)
{
    control->setFocus(Qt::TabFocusReason);
    if (auto *edit = qobject_cast<QLineEdit *>(control)) {
        int length = static_cast<int>(edit->text().size());
        edit->setSelection(length, -length);
    }
}

} // namespace platform
