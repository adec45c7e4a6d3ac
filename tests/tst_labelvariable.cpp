// The label value type: defaults, element accessors and their status, copy
// and assignment semantics.
#include "value/CLabelVariable.h"

#include <QtTest>

class TestLabelVariable : public QObject
{
    Q_OBJECT
private slots:
    void defaultsFailEveryAccessor();
    void accessorsReadTheirOwnListOnly();
    void indexOutOfRange();
    void scalarIsNotAList();
    void accessorsIgnoreType();
    void strings();
    void copyKeepsEverythingAssignmentKeepsTargetStatus();
};

void TestLabelVariable::defaultsFailEveryAccessor()
{
    CLabelVariable v;
    QCOMPARE(v.resultCode, 1);
    QCOMPARE(v.accessStatus, 1);
    QVERIFY(!v.value.isValid());
    QVERIFY(v.timeStamp.isNull());
    QCOMPARE(v.count, 0);
    QCOMPARE(v.type, DT_None);
    QCOMPARE(v.auxNumber, 0);
    QCOMPARE(v.atbool(0), false);
    QCOMPARE(v.accessStatus, 11);
    v.accessStatus = 1;
    QCOMPARE(v.atDouble(0), 0.0);
    QCOMPARE(v.accessStatus, 11);
    QVERIFY(v.atQString(0).isNull());
    QCOMPARE(v.accessStatus, 11);
}

void TestLabelVariable::accessorsReadTheirOwnListOnly()
{
    CLabelVariable v;
    v.value = QVariant::fromValue(QList<int>{7, -3, 12});
    QCOMPARE(v.atInt32(2), 12);
    QCOMPARE(v.accessStatus, 0);
    QCOMPARE(v.atUInt32(0), 0u);
    QCOMPARE(v.accessStatus, 11);
    QCOMPARE(v.atFloat(0), 0.0f);
    QCOMPARE(v.accessStatus, 11);
    QCOMPARE(v.atInt16(0), short(0));
    QCOMPARE(v.accessStatus, 11);
    QCOMPARE(v.atInt32(1), -3); // a success after a failure resets the status
    QCOMPARE(v.accessStatus, 0);

    CLabelVariable c;
    c.value = QVariant::fromValue(QList<char>{char(-128), char(127)});
    QCOMPARE(int(c.atInt8(0)), -128);
    QCOMPARE(int(c.atchar(1)), 127);
    QCOMPARE(c.atUInt8(0), (unsigned char)0);
    QCOMPARE(c.accessStatus, 11);

    CLabelVariable b;
    b.value = QVariant::fromValue(QList<bool>{true, false});
    QCOMPARE(b.atbool(0), true);
    QCOMPARE(b.atbool(1), false);
    QCOMPARE(b.accessStatus, 0);

    CLabelVariable w;
    w.value = QVariant::fromValue(QList<unsigned long long>{18446744073709551615ULL});
    QCOMPARE(w.atUInt64(0), 18446744073709551615ULL);
    QCOMPARE(w.atInt64(0), 0LL);
    QCOMPARE(w.accessStatus, 11);
}

void TestLabelVariable::indexOutOfRange()
{
    CLabelVariable v;
    v.value = QVariant::fromValue(QList<short>{1, 2, 3});
    QCOMPARE(v.atInt16(3), short(0));
    QCOMPARE(v.accessStatus, 10);
    QCOMPARE(v.atInt16(-1), short(0));
    QCOMPARE(v.accessStatus, 10);
    CLabelVariable e;
    e.value = QVariant::fromValue(QList<double>());
    QCOMPARE(e.atDouble(0), 0.0);
    QCOMPARE(e.accessStatus, 10);
}

void TestLabelVariable::scalarIsNotAList()
{
    CLabelVariable v;
    v.type = DT_Int32;
    v.value = QVariant(5);
    QCOMPARE(v.atInt32(0), 0);
    QCOMPARE(v.accessStatus, 11);
}

void TestLabelVariable::accessorsIgnoreType()
{
    for (int type : {17, 0}) {
        CLabelVariable v;
        v.type = DataType(type);
        v.value = QVariant::fromValue(QList<int>{42});
        QCOMPARE(v.atInt32(0), 42);
        QCOMPARE(v.accessStatus, 0);
    }
}

void TestLabelVariable::strings()
{
    CLabelVariable v;
    v.value = QVariant::fromValue(QList<QString>{QStringLiteral("A"), QStringLiteral("")});
    QCOMPARE(v.atQString(0), QStringLiteral("A"));
    const QString empty = v.atQString(1);
    QVERIFY(empty.isEmpty());
    QVERIFY(!empty.isNull());
    QCOMPARE(v.accessStatus, 0);
    QVERIFY(v.atQString(2).isNull());
    QCOMPARE(v.accessStatus, 10);
}

void TestLabelVariable::copyKeepsEverythingAssignmentKeepsTargetStatus()
{
    CLabelVariable source;
    source.resultCode = 0;
    source.accessStatus = 10;
    source.value = QVariant::fromValue(QList<int>{1});
    source.timeStamp = QDateTime::currentDateTime();
    source.name = QStringLiteral("MW10");
    source.count = 1;
    source.type = DT_Int32;
    source.auxNumber = 77;
    source.auxText = QStringLiteral("aux");

    const CLabelVariable copy(source);
    QCOMPARE(copy.accessStatus, 10);
    QCOMPARE(copy.auxNumber, 77);
    QCOMPARE(copy.auxText, QStringLiteral("aux"));

    CLabelVariable target;
    target.accessStatus = 0;
    target.auxNumber = 5;
    target = source;
    QCOMPARE(target.accessStatus, 0);
    QCOMPARE(target.auxNumber, 5);
    QCOMPARE(target.resultCode, 0);
    QCOMPARE(target.value, source.value);
    QCOMPARE(target.timeStamp, source.timeStamp);
    QCOMPARE(target.name, source.name);
    QCOMPARE(target.count, 1);
    QCOMPARE(target.type, DT_Int32);
    QCOMPARE(target.auxText, QStringLiteral("aux"));
}

QTEST_APPLESS_MAIN(TestLabelVariable)
#include "tst_labelvariable.moc"
