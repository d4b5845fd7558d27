// The program's main dialog, dialog 1000, built from its template.
#include "QtDriver.h"
#include "QtPlatform.h"
#include "TestDialog.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

const DLGRESOURCE &MainTemplate()
{
    for (int i = 0; i < ProgramInstance.dialogCount; ++i) {
        if (ProgramInstance.dialogs[i]->id == IDD_MAIN)
            return *ProgramInstance.dialogs[i];
    }
    throw std::logic_error("no dialog 1000");
}

std::vector<QWidget *> Controls(QWidget *dialog)
{
    QList<QWidget *> children = dialog->findChildren<QWidget *>(Qt::FindDirectChildrenOnly);
    return std::vector<QWidget *>(children.begin(), children.end());
}

// Runs dialog 1000 from the given module, with check run on it once shown.
void WithMainDialog(HINSTANCE module, const std::function<void(QtDriver &, QWidget *)> &check)
{
    Recorder recorder;
    QtDriver driver;
    driver.OnNextWindow([&] {
        check(driver, driver.Window());
        EndDialog(recorder.dialog, IDC_BUTTON_QUIT);
    });
    EXPECT_EQ(DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_MAIN), nullptr, Recorder::Proc, 0),
              IDC_BUTTON_QUIT);
}

// Texts whole in their controls, and no control over another.
void ExpectSoundLayout(QWidget *dialog)
{
    std::vector<QWidget *> controls = Controls(dialog);
    for (QWidget *control : controls) {
        const std::string id = control->objectName().toStdString();
        EXPECT_TRUE(dialog->rect().contains(control->geometry())) << id << " inside the dialog";
        QFontMetrics metrics(control->font());
        if (auto *label = qobject_cast<QLabel *>(control)) {
            EXPECT_LE(metrics.horizontalAdvance(label->text()), label->contentsRect().width())
                << "label " << id << " \"" << label->text().toStdString() << "\" on one line";
            EXPECT_LE(metrics.height(), label->contentsRect().height()) << "label " << id;
        } else if (auto *button = qobject_cast<QPushButton *>(control)) {
            EXPECT_LT(metrics.horizontalAdvance(button->text()), button->width()) << id;
            EXPECT_LE(metrics.height(), button->height()) << id;
        } else if (auto *edit = qobject_cast<QLineEdit *>(control)) {
            EXPECT_LE(metrics.height(), edit->contentsRect().marginsRemoved(edit->textMargins()).height())
                << "edit " << id;
        }
        for (QWidget *other : controls) {
            if (other != control && other->objectName() > control->objectName()) {
                EXPECT_FALSE(control->geometry().intersects(other->geometry()))
                    << id << " overlaps " << other->objectName().toStdString();
            }
        }
    }
}

TEST(MainDialog, HasItsNinetyFourControlsInIdOrder)
{
    WithMainDialog(&ProgramInstance, [](QtDriver &driver, QWidget *dialog) {
        EXPECT_EQ(driver.Caption(), "Quorvel");
        std::vector<QWidget *> controls = Controls(dialog);
        ASSERT_EQ(controls.size(), 94u);
        for (size_t i = 0; i < controls.size(); ++i)
            EXPECT_EQ(controls[i]->objectName().toInt(), IDC_FIRST_CONTROL + static_cast<int>(i));
        int edits = 0, buttons = 0, labels = 0;
        for (QWidget *control : controls) {
            edits += qobject_cast<QLineEdit *>(control) != nullptr;
            buttons += qobject_cast<QPushButton *>(control) != nullptr;
            labels += qobject_cast<QLabel *>(control) != nullptr;
        }
        EXPECT_EQ(edits, 43);
        EXPECT_EQ(buttons, 5);
        EXPECT_EQ(labels, 46);

        EXPECT_EQ(driver.Text(IDC_BUTTON_OK), "OK");
        EXPECT_EQ(driver.Text(IDC_BUTTON_CANCEL), "Cancel");
        EXPECT_EQ(driver.Text(IDC_BUTTON_RESET), "Reset");
        EXPECT_EQ(driver.Text(IDC_BUTTON_QUIT), "Quit");
        EXPECT_EQ(driver.Text(IDC_BUTTON_HELP), "Help/About");
        EXPECT_EQ(driver.Text(IDC_STATIC_RAM_TITLE), "Current Data (RAM)");
        EXPECT_EQ(driver.Text(IDC_STATIC_E2P_TITLE), "Default Data (EEPROM)");
        EXPECT_EQ(driver.Text(IDC_STATIC_WEB_ADDRESS), "www.quorvel.example");
        EXPECT_EQ(driver.Text(IDC_EDIT_RT_RAM),
                  "1234567890123456789012345678901234567890123456789012345678901234");
    });
}

TEST(MainDialog, AlternativeFrequenciesFillTheGridWithIdsRunningBackFromTheSecondRow)
{
    const int rowY[] = {140, 156, 171, 186, 202};
    const int labelX[] = {5, 68, 132, 195, 258};
    const int editX[] = {34, 97, 161, 224, 288};
    WithMainDialog(&ProgramInstance, [&](QtDriver &driver, QWidget *dialog) {
        auto pixels = [](int x, int y, int cx, int cy) {
            using platform::MulDiv;
            return QRect(MulDiv(x, 7, 4), MulDiv(y, 14, 8), MulDiv(cx, 7, 4), MulDiv(cy, 14, 8));
        };
        for (int n = 0; n < 25; ++n) {
            int row = n / 5, column = n % 5;
            int editId = IDC_EDIT_AF00 + 10 * row + 2 * (row == 0 ? column : 4 - column);
            auto *edit = dialog->findChild<QLineEdit *>(QString::number(editId));
            auto *label = dialog->findChild<QLabel *>(QString::number(editId + 1));
            ASSERT_TRUE(edit && label) << "AF" << n;
            EXPECT_EQ(edit->geometry(), pixels(editX[column], rowY[row], 26, 10)) << "AF" << n;
            EXPECT_EQ(label->geometry(), pixels(labelX[column], rowY[row], 24, 10)) << "AF" << n;
            char name[8];
            std::snprintf(name, sizeof name, "AF%02d=", n);
            EXPECT_EQ(driver.Text(editId + 1), name);
            EXPECT_EQ(driver.Text(editId), "107.9");
        }
    });
}

TEST(MainDialog, IsLaidOutInTahomasDialogUnits)
{
    WithMainDialog(&ProgramInstance, [](QtDriver &, QWidget *dialog) {
        EXPECT_EQ(QFontInfo(dialog->font()).family(), "Tahoma");
        EXPECT_EQ(dialog->size(), QSize(592, 420)); // 338 x 240 dialog units
        auto at = [dialog](int id) {
            return dialog->findChild<QWidget *>(QString::number(id))->geometry();
        };
        EXPECT_EQ(at(IDC_EDIT_RT_RAM), QRect(77, 74, 459, 21));   // 44, 42, 262, 12
        EXPECT_EQ(at(IDC_EDIT_PS_RAM), QRect(77, 44, 79, 28));    // 44, 25, 45, 16
        EXPECT_EQ(at(IDC_BUTTON_OK), QRect(357, 387, 121, 28));   // 204, 221, 69, 16
        EXPECT_EQ(at(IDC_BUTTON_RESET), QRect(5, 396, 58, 18));   // 3, 226, 33, 10
        EXPECT_EQ(at(IDC_BUTTON_HELP), QRect(488, 2, 100, 25));   // 279, 1, 57, 14

        // Every other control, against its template.
        const DLGRESOURCE &resource = MainTemplate();
        for (int i = 0; i < resource.itemCount; ++i) {
            const DLGITEMRESOURCE &item = resource.items[i];
            using platform::MulDiv;
            QRect expected(MulDiv(item.x, 7, 4), MulDiv(item.y, 14, 8), MulDiv(item.cx, 7, 4),
                           MulDiv(item.cy, 14, 8));
            EXPECT_EQ(at(item.id), expected) << item.id;
        }
    });
}

TEST(MainDialog, LayoutIsSoundInTahomaAndInTheFallbackFont)
{
    WithMainDialog(&ProgramInstance,
                   [](QtDriver &, QWidget *dialog) { ExpectSoundLayout(dialog); });

    DLGRESOURCE withoutTahoma = MainTemplate();
    withoutTahoma.typeface = "No Such Typeface";
    const DLGRESOURCE *dialogs[] = {&withoutTahoma};
    HINSTANCE__ module = {dialogs, 1};
    WithMainDialog(&module, [](QtDriver &, QWidget *dialog) {
        EXPECT_NE(QFontInfo(dialog->font()).family(), "Tahoma");
        ExpectSoundLayout(dialog);
    });
}

TEST(MainDialog, SampleTextsShowWholeInTheirEdits)
{
    WithMainDialog(&ProgramInstance, [](QtDriver &, QWidget *dialog) {
        for (auto *edit : dialog->findChildren<QLineEdit *>()) {
            int room = edit->contentsRect().marginsRemoved(edit->textMargins()).width() - 4;
            EXPECT_LT(QFontMetrics(edit->font()).horizontalAdvance(edit->text()), room)
                << edit->objectName().toStdString();
        }
    });
}

TEST(MainDialog, FocusStartsOnTheRamPsNameAndTabVisitsEditsAndButtonsInIdOrder)
{
    WithMainDialog(&ProgramInstance, [](QtDriver &driver, QWidget *dialog) {
        EXPECT_EQ(driver.FocusedId(), IDC_EDIT_PS_RAM);
        std::vector<int> expected;
        for (QWidget *control : Controls(dialog)) {
            if (!qobject_cast<QLabel *>(control))
                expected.push_back(control->objectName().toInt());
        }
        ASSERT_EQ(expected.size(), 48u);
        std::vector<int> visited{driver.FocusedId()};
        for (size_t i = 1; i < expected.size(); ++i) {
            driver.Press(QtDriver::Key::Tab);
            visited.push_back(driver.FocusedId());
        }
        EXPECT_EQ(visited, expected);
        driver.Press(QtDriver::Key::Tab);
        EXPECT_EQ(driver.FocusedId(), IDC_EDIT_PS_RAM) << "and round again";
    });
}

TEST(MainDialog, EditsStopTakingTextAtTheirRightEdge)
{
    WithMainDialog(&ProgramInstance, [](QtDriver &driver, QWidget *) {
        driver.Type(IDC_EDIT_AF00, "107.95555555555");
        std::string typed = driver.Text(IDC_EDIT_AF00);
        EXPECT_GE(typed.size(), 5u);
        EXPECT_LT(typed.size(), 15u);
        EXPECT_EQ(typed, std::string("107.95555555555").substr(0, typed.size()));
    });
}

} // namespace
