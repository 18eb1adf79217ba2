// SPDX-License-Identifier: GPL-3.0-or-later
#include "linkscopeprobe.h"

#include <QApplication>
#include <QComboBox>
#include <QHeaderView>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QtTest>

class tst_Form : public QObject
{
    Q_OBJECT

private slots:
    void widgetTree();
    void layoutsInOrder();
    void layoutSpacingAndMargins();
    void sizePolicies_data();
    void sizePolicies();
    void tablesStartEmpty_data();
    void tablesStartEmpty();
    void texts();
    void windowSize();
    void objectName();
    void tablesKeepTheirMaximumWidth();
    void extraHeightGoesToTheLowerFrame();
    void rightToLeft();
    void oneClickRunsTheSlotOnce();
    void twoPrivateSlots();
};

void tst_Form::widgetTree()
{
    LinkScope window;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);

    QCOMPARE(window.centralWidget(), ui.centralWidget);
    QCOMPARE(window.menuBar(), ui.menuBar);
    QCOMPARE(window.statusBar(), ui.statusBar);
    QCOMPARE(ui.menuBar->actions().size(), 0);

    struct Expected { QObject *object; const char *name; const char *className; QObject *parent; };
    const Expected tree[] = {
        {ui.centralWidget, "centralWidget", "QWidget", &window},
        {ui.verticalLayout, "verticalLayout", "QVBoxLayout", ui.centralWidget},
        {ui.frame, "frame", "QFrame", ui.centralWidget},
        {ui.horizontalLayout, "horizontalLayout", "QHBoxLayout", ui.frame},
        {ui.cbPortSelect, "cbPortSelect", "QComboBox", ui.frame},
        {ui.btConnect, "btConnect", "QPushButton", ui.frame},
        {ui.frame_2, "frame_2", "QFrame", ui.centralWidget},
        {ui.horizontalLayout_2, "horizontalLayout_2", "QHBoxLayout", ui.frame_2},
        {ui.twDataInput, "twDataInput", "QTableWidget", ui.frame_2},
        {ui.twSrxlInput, "twSrxlInput", "QTableWidget", ui.frame_2},
        {ui.menuBar, "menuBar", "QMenuBar", &window},
        {ui.statusBar, "statusBar", "QStatusBar", &window},
    };
    for (const Expected &e : tree) {
        QVERIFY2(e.object, e.name);
        QCOMPARE(e.object->objectName(), QString::fromLatin1(e.name));
        QCOMPARE(e.object->metaObject()->className(), e.className);
        QCOMPARE(e.object->parent(), e.parent);
        QCOMPARE(window.findChild<QObject *>(QString::fromLatin1(e.name)), e.object);
    }

    // Children appear in the order they were created.
    QObjectList frameChildren;
    for (QObject *child : ui.frame_2->children())
        if (child->isWidgetType() || qobject_cast<QLayout *>(child))
            frameChildren << child;
    QCOMPARE(frameChildren, (QObjectList{ui.horizontalLayout_2, ui.twDataInput, ui.twSrxlInput}));
}

void tst_Form::layoutsInOrder()
{
    LinkScope window;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);

    QCOMPARE(ui.centralWidget->layout(), ui.verticalLayout);
    QCOMPARE(ui.frame->layout(), ui.horizontalLayout);
    QCOMPARE(ui.frame_2->layout(), ui.horizontalLayout_2);

    QCOMPARE(ui.verticalLayout->count(), 2);
    QCOMPARE(ui.verticalLayout->itemAt(0)->widget(), ui.frame);
    QCOMPARE(ui.verticalLayout->itemAt(1)->widget(), ui.frame_2);
    QCOMPARE(ui.horizontalLayout->count(), 2);
    QCOMPARE(ui.horizontalLayout->itemAt(0)->widget(), ui.cbPortSelect);
    QCOMPARE(ui.horizontalLayout->itemAt(1)->widget(), ui.btConnect);

    QCOMPARE(ui.horizontalLayout_2->count(), 5);
    QCOMPARE(ui.horizontalLayout_2->itemAt(0)->spacerItem(), ui.horizontalSpacer);
    QCOMPARE(ui.horizontalLayout_2->itemAt(1)->widget(), ui.twDataInput);
    QCOMPARE(ui.horizontalLayout_2->itemAt(2)->spacerItem(), ui.horizontalSpacer_2);
    QCOMPARE(ui.horizontalLayout_2->itemAt(3)->widget(), ui.twSrxlInput);
    QCOMPARE(ui.horizontalLayout_2->itemAt(4)->spacerItem(), ui.horizontalSpacer_3);

    const QSpacerItem *spacers[] = {ui.horizontalSpacer, ui.horizontalSpacer_2, ui.horizontalSpacer_3};
    const int widths[] = {40, 40, 144};
    for (int i = 0; i < 3; ++i) {
        QCOMPARE(spacers[i]->sizeHint(), QSize(widths[i], 20));
        QCOMPARE(spacers[i]->sizePolicy().horizontalPolicy(), QSizePolicy::Expanding);
        QCOMPARE(spacers[i]->sizePolicy().verticalPolicy(), QSizePolicy::Minimum);
    }
    for (int i = 0; i < ui.horizontalLayout_2->count(); ++i) {
        QCOMPARE(ui.horizontalLayout_2->stretch(i), 0);
        QCOMPARE(ui.horizontalLayout_2->itemAt(i)->alignment(), Qt::Alignment());
    }
}

void tst_Form::layoutSpacingAndMargins()
{
    LinkScope window;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    for (QBoxLayout *layout : {static_cast<QBoxLayout *>(ui.verticalLayout),
                               static_cast<QBoxLayout *>(ui.horizontalLayout),
                               static_cast<QBoxLayout *>(ui.horizontalLayout_2)}) {
        QCOMPARE(layout->spacing(), 6);
        QCOMPARE(layout->contentsMargins(), QMargins(11, 11, 11, 11));
    }
}

void tst_Form::sizePolicies_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("horizontal");
    QTest::addColumn<int>("vertical");
    QTest::newRow("frame") << "frame" << int(QSizePolicy::Expanding) << int(QSizePolicy::Preferred);
    QTest::newRow("cbPortSelect") << "cbPortSelect" << int(QSizePolicy::Expanding) << int(QSizePolicy::Fixed);
    QTest::newRow("frame_2") << "frame_2" << int(QSizePolicy::Expanding) << int(QSizePolicy::Expanding);
    QTest::newRow("twDataInput") << "twDataInput" << int(QSizePolicy::Expanding) << int(QSizePolicy::Preferred);
    QTest::newRow("twSrxlInput") << "twSrxlInput" << int(QSizePolicy::Expanding) << int(QSizePolicy::Expanding);
}

void tst_Form::sizePolicies()
{
    QFETCH(QString, name);
    QFETCH(int, horizontal);
    QFETCH(int, vertical);
    LinkScope window;
    const QWidget *widget = window.findChild<QWidget *>(name);
    QVERIFY(widget);
    const QSizePolicy policy = widget->sizePolicy();
    QCOMPARE(int(policy.horizontalPolicy()), horizontal);
    QCOMPARE(int(policy.verticalPolicy()), vertical);
    QCOMPARE(policy.horizontalStretch(), 0);
    QCOMPARE(policy.verticalStretch(), 0);
    QCOMPARE(policy.controlType(), QSizePolicy::DefaultType);
    QCOMPARE(policy.hasHeightForWidth(), false);
}

void tst_Form::tablesStartEmpty_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("header");
    QTest::addColumn<int>("maximumWidth");
    QTest::addColumn<bool>("explicitDirection");
    QTest::newRow("raw bytes") << "twDataInput" << "Paket data" << 140 << true;
    QTest::newRow("decoded") << "twSrxlInput" << "SRLX Data" << 300 << false;
}

void tst_Form::tablesStartEmpty()
{
    QFETCH(QString, name);
    QFETCH(QString, header);
    QFETCH(int, maximumWidth);
    QFETCH(bool, explicitDirection);
    LinkScope window;
    const QTableWidget *table = window.findChild<QTableWidget *>(name);
    QVERIFY(table);
    QCOMPARE(table->columnCount(), 1);
    QCOMPARE(table->rowCount(), 0);
    QVERIFY(table->horizontalHeaderItem(0));
    QCOMPARE(table->horizontalHeaderItem(0)->type(), int(QTableWidgetItem::Type));
    QCOMPARE(table->horizontalHeaderItem(0)->text(), header);
    QVERIFY(!table->horizontalHeader()->isHidden());
    QCOMPARE(table->horizontalHeader()->cascadingSectionResizes(), false);
    QCOMPARE(table->horizontalHeader()->defaultSectionSize(), 120);
    QCOMPARE(table->maximumSize(), QSize(maximumWidth, QWIDGETSIZE_MAX));
    QCOMPARE(table->testAttribute(Qt::WA_SetLayoutDirection), explicitDirection);
}

void tst_Form::texts()
{
    LinkScope window;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    QCOMPARE(window.windowTitle(), QStringLiteral("LinkScope"));
    QCOMPARE(ui.btConnect->text(), QStringLiteral("Connect"));
    QCOMPARE(ui.frame->frameShape(), QFrame::StyledPanel);
    QCOMPARE(ui.frame->frameShadow(), QFrame::Raised);
    QCOMPARE(ui.frame_2->frameShape(), QFrame::StyledPanel);
    QCOMPARE(ui.frame_2->frameShadow(), QFrame::Raised);
    QCOMPARE(ui.cbPortSelect->minimumSize(), QSize(0, 0));
    QCOMPARE(ui.menuBar->geometry(), QRect(0, 0, 600, 21));
}

void tst_Form::windowSize()
{
    LinkScope window;
    QCOMPARE(window.size(), QSize(600, 866));
    QCOMPARE(window.minimumSize(), QSize(0, 0));
    QCOMPARE(window.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    QCOMPARE(window.windowFlags(), QMainWindow().windowFlags());
}

void tst_Form::objectName()
{
    LinkScope window;
    QCOMPARE(window.objectName(), QStringLiteral("LinkScopeClass"));

    QMainWindow named;
    named.setObjectName(QStringLiteral("alreadyNamed"));
    Ui::LinkScopeClass form;
    form.setupUi(&named);
    QCOMPARE(named.objectName(), QStringLiteral("alreadyNamed"));
}

void tst_Form::tablesKeepTheirMaximumWidth()
{
    LinkScope window;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    window.resize(2400, 900);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(ui.twDataInput->width(), 140);
    QCOMPARE(ui.twSrxlInput->width(), 300);
}

void tst_Form::extraHeightGoesToTheLowerFrame()
{
    LinkScope window;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    const int frameHeight = ui.frame->height();
    const int comboHeight = ui.cbPortSelect->height();
    const int lowerHeight = ui.frame_2->height();
    window.resize(600, 1266);
    QTRY_COMPARE(ui.frame_2->height(), lowerHeight + 400);
    QCOMPARE(ui.frame->height(), frameHeight);
    QCOMPARE(ui.cbPortSelect->height(), comboHeight);
}

void tst_Form::rightToLeft()
{
    QApplication::setLayoutDirection(Qt::RightToLeft);
    struct RestoreDirection { ~RestoreDirection() { QApplication::setLayoutDirection(Qt::LeftToRight); } } restore;
    LinkScope window;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));

    QCOMPARE(ui.twDataInput->layoutDirection(), Qt::LeftToRight);
    QCOMPARE(ui.twSrxlInput->layoutDirection(), Qt::RightToLeft);
    QCOMPARE(ui.frame->layoutDirection(), Qt::RightToLeft);
    // The lower frame lays out from the right: the decoded table stands
    // left of the raw one, and the button left of the port selector.
    QVERIFY(ui.twSrxlInput->x() < ui.twDataInput->x());
    QVERIFY(ui.btConnect->x() < ui.cbPortSelect->x());
}

void tst_Form::oneClickRunsTheSlotOnce()
{
    LinkScope window;
    Ui::LinkScopeClass &ui = LinkScopeProbe::ui(window);
    QCOMPARE(ReceiverCount::of(ui.btConnect, SIGNAL(clicked())), 1);
}

void tst_Form::twoPrivateSlots()
{
    const QMetaObject &meta = LinkScope::staticMetaObject;
    QCOMPARE(meta.className(), "LinkScope");
    QCOMPARE(meta.methodCount() - meta.methodOffset(), 2);
    QCOMPARE(meta.propertyCount(), meta.superClass()->propertyCount());
    const char *names[] = {"on_btConnect_clicked()", "slotReadyRead()"};
    for (int i = 0; i < 2; ++i) {
        const QMetaMethod slot = meta.method(meta.methodOffset() + i);
        QCOMPARE(slot.methodSignature().constData(), names[i]);
        QCOMPARE(slot.methodType(), QMetaMethod::Slot);
        QCOMPARE(slot.access(), QMetaMethod::Private);
        QCOMPARE(slot.parameterCount(), 0);
    }
}

QTEST_MAIN(tst_Form)
#include "tst_form.moc"
