#include <QtTest>
class tst_X : public QObject { Q_OBJECT private slots: void none() { QSKIP("todo"); } };
QTEST_MAIN(tst_X)
#include "tst_nordax.moc"
