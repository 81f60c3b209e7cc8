#include <QTest>
class TestSkinFramework : public QObject { Q_OBJECT };
QTEST_MAIN(TestSkinFramework)
#include "test_skinframework.moc"
