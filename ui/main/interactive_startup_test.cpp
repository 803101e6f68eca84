#include <QTest>
class T : public QObject { Q_OBJECT };
QTEST_MAIN(T)
#include "interactive_startup_test.moc"
