// Element-wise label arithmetic and comparison.
#include "value/CLabelVariable.h"

#include <QtTest>
#include <cmath>
#include <limits>

Q_DECLARE_METATYPE(CLabelVariable)

namespace {

const int Untouched = 5; // accessStatus no accessor ever sets

template <typename T>
CLabelVariable lab(int type, const QList<T> &values, int count = -1)
{
    CLabelVariable l;
    l.type = DataType(type);
    l.value = QVariant::fromValue(values);
    l.count = count < 0 ? values.size() : count;
    l.name = "Axis";
    l.accessStatus = Untouched;
    return l;
}

template <typename T>
QVariant vl(const QList<T> &values)
{
    return QVariant::fromValue(values);
}

CLabelVariable apply(QChar op, CLabelVariable &l, const CLabelVariable &r)
{
    return op == '+' ? l + r : op == '-' ? l - r : op == '*' ? l * r : l / r;
}

// Same held list type and same elements.
void compareValue(const QVariant &actual, const QVariant &expected)
{
    QCOMPARE(QMetaType::typeName(actual.userType()), QMetaType::typeName(expected.userType()));
    QCOMPARE(actual.value<QVariantList>(), expected.value<QVariantList>());
}

const qint64 I64Min = std::numeric_limits<qint64>::min();
const qint64 I64Max = std::numeric_limits<qint64>::max();
const quint64 U64Max = std::numeric_limits<quint64>::max();
const int I32Min = std::numeric_limits<int>::min();
const int I32Max = std::numeric_limits<int>::max();

} // namespace

class TestLabelOperators : public QObject
{
    Q_OBJECT

private slots:
    void arithmetic_data()
    {
        QTest::addColumn<QChar>("op");
        QTest::addColumn<CLabelVariable>("left");
        QTest::addColumn<CLabelVariable>("right");
        QTest::addColumn<QVariant>("expected");
        QTest::addColumn<int>("leftStatus");
        QTest::addColumn<int>("rightStatus");
        auto row = [](const char *name, char op, const CLabelVariable &l, const CLabelVariable &r,
                      const QVariant &expected, int ls = 0,
                      int rs = 0) { QTest::newRow(name) << QChar(op) << l << r << expected << ls << rs; };
        // Wrapping at every width, including the products that overflow int
        // if narrow unsigned types are multiplied after promotion.
        row("Int8 + wraps", '+', lab<char>(2, {127, -128}), lab<char>(2, {1, -1}), vl<char>({-128, 127}));
        row("UInt8 - wraps", '-', lab<uchar>(3, {5}), lab<uchar>(3, {7}), vl<uchar>({254}));
        row("Int16 + wraps", '+', lab<short>(4, {30000}), lab<short>(4, {10000}), vl<short>({-25536}));
        row("UInt16 * wraps", '*', lab<ushort>(5, {65535}), lab<ushort>(5, {65535}), vl<ushort>({1}));
        row("Int32 +- wrap", '-', lab<int>(6, {I32Min, I32Max}), lab<int>(6, {1, -1}),
            vl<int>({I32Max, I32Min}));
        row("UInt32 - wraps", '-', lab<uint>(7, {0}), lab<uint>(7, {1}), vl<uint>({4294967295u}));
        row("Int64 + wraps", '+', lab<qint64>(9, {I64Max}), lab<qint64>(9, {1}), vl<qint64>({I64Min}));
        row("Int64 * wraps", '*', lab<qint64>(9, {I64Min}), lab<qint64>(9, {-1}), vl<qint64>({I64Min}));
        row("UInt64 + wraps", '+', lab<quint64>(10, {U64Max}), lab<quint64>(10, {2}), vl<quint64>({1}));
        // Division: truncation, unsigned quotients, MIN / -1, zero divisors.
        row("Int8 MIN/-1", '/', lab<char>(2, {-128, -7}), lab<char>(2, {-1, 2}), vl<char>({-128, -3}));
        row("Int16 MIN/-1", '/', lab<short>(4, {-32768, 7}), lab<short>(4, {-1, -2}),
            vl<short>({-32768, -3}));
        row("Int32 MIN/-1", '/', lab<int>(6, {I32Min}), lab<int>(6, {-1}), vl<int>({I32Min}));
        row("Int64 MIN/-1", '/', lab<qint64>(9, {I64Min}), lab<qint64>(9, {-1}), vl<qint64>({I64Min}));
        row("Int32 /0 per element", '/', lab<int>(6, {10, 7, -9}), lab<int>(6, {2, 0, 4}),
            vl<int>({5, 0, -2}));
        row("UInt8 unsigned /", '/', lab<uchar>(3, {200, 9}), lab<uchar>(3, {3, 0}), vl<uchar>({66, 0}));
        row("UInt32 unsigned /", '/', lab<uint>(7, {4000000000u}), lab<uint>(7, {3}),
            vl<uint>({1333333333u}));
        row("UInt64 unsigned /", '/', lab<quint64>(10, {U64Max, 1}), lab<quint64>(10, {2, 0}),
            vl<quint64>({U64Max / 2, 0}));
        row("Float 1/0", '/', lab<float>(8, {1, -1}), lab<float>(8, {0, 0}),
            vl<float>({INFINITY, -INFINITY}));
        const QList<bool> ab{false, false, true, true}, bb{false, true, false, true};
        row("Bool +", '+', lab<bool>(1, ab), lab<bool>(1, bb), vl<bool>({false, true, true, true}));
        row("Bool -", '-', lab<bool>(1, ab), lab<bool>(1, bb), vl<bool>({false, true, true, false}));
        row("Bool *", '*', lab<bool>(1, ab), lab<bool>(1, bb), vl<bool>({false, false, false, true}));
        row("Bool /", '/', lab<bool>(1, ab), lab<bool>(1, bb), vl<bool>({false, false, false, true}));
        row("String + joins", '+', lab<QString>(12, {"ab", ""}), lab<QString>(12, {"Cd", "x"}),
            vl<QString>({"abCd", "x"}));
        // Host codes fold onto the base type of the left operand.
        row("6 with 17", '+', lab<int>(6, {3}), lab<int>(17, {4}), vl<int>({7}));
        row("13 is Int16", '+', lab<short>(13, {32767}), lab<short>(4, {1}), vl<short>({-32768}));
        row("16 is UInt16", '-', lab<ushort>(16, {0}), lab<ushort>(5, {1}), vl<ushort>({65535}));
        row("20 is Int32", '/', lab<int>(20, {-9}), lab<int>(6, {2}), vl<int>({-4}));
        row("21 is UInt32", '-', lab<uint>(21, {0}), lab<uint>(7, {1}), vl<uint>({4294967295u}));
        row("33 is Float", '*', lab<float>(33, {1.5f}), lab<float>(8, {2}), vl<float>({3}));
        row("40 is Double", '+', lab<double>(40, {0.5}), lab<double>(11, {2}), vl<double>({2.5}));
        // Lists that do not pair up: nothing read, empty list of the left's type.
        row("lengths differ", '+', lab<int>(6, {1, 2}), lab<int>(6, {1}), vl<int>({}), Untouched, Untouched);
        row("right holds other type", '+', lab<int>(6, {1}), lab<short>(6, {1}), vl<int>({}), Untouched,
            Untouched);
        row("count 0", '-', lab<int>(6, {1}, 0), lab<int>(6, {1}), vl<int>({}), Untouched, Untouched);
        // The left count drives the loop; reads past the lists give 0 + 0.
        row("count beyond lists", '/', lab<int>(6, {8, 9}, 3), lab<int>(6, {2, 3}), vl<int>({4, 3, 0}), 10,
            10);
        row("both hold other type", '+', lab<short>(6, {1}, 2), lab<short>(6, {2}), vl<int>({0, 0}), 11, 11);
    }

    void arithmetic()
    {
        QFETCH(QChar, op);
        QFETCH(CLabelVariable, left);
        QFETCH(CLabelVariable, right);
        const QVariant leftBefore = left.value, rightBefore = right.value;

        const CLabelVariable result = apply(op, left, right);
        QFETCH(QVariant, expected);
        compareValue(result.value, expected);
        QCOMPARE(int(result.type), int(right.type));
        QCOMPARE(result.count, right.count);
        QTEST(left.accessStatus, "leftStatus");
        QTEST(right.accessStatus, "rightStatus");
        compareValue(left.value, leftBefore);
        compareValue(right.value, rightBefore);
    }

    void zeroByZeroIsNaN()
    {
        CLabelVariable f = lab<float>(8, {0}), d = lab<double>(37, {0});
        QVERIFY(std::isnan(qvariant_cast<QList<float>>((f / f).value).value(0)));
        QVERIFY(std::isnan(qvariant_cast<QList<double>>((d / d).value).value(0)));
    }

    // A count no list can hold must not throw into the host: the result
    // holds an empty list, as for lists that do not pair up.
    void countNoListCanHoldGivesAnEmptyList()
    {
        for (int count : {INT_MAX, 268435448}) {
            CLabelVariable l = lab<double>(11, {}, count), r = lab<double>(11, {}, count);
            const CLabelVariable sum = l + r;
            QCOMPARE(sum.value.value<QList<double>>().size(), 0);
            QCOMPARE(sum.count, count);
        }
    }

    void resultTakesHeaderFromRight_data()
    {
        QTest::addColumn<CLabelVariable>("left");
        QTest::newRow("elements combined") << lab<int>(6, {1, 2});
        QTest::newRow("lengths differ") << lab<int>(6, {1, 2, 3});
    }

    void resultTakesHeaderFromRight()
    {
        QFETCH(CLabelVariable, left);
        left.resultCode = 3;
        left.auxNumber = 4;
        left.auxText = "left";
        left.name = "L";
        left.timeStamp = QDateTime(QDate(2001, 1, 1), QTime(0, 0));
        CLabelVariable right = lab<int>(18, {5, 6});
        right.resultCode = 0;
        right.auxNumber = 8;
        right.auxText = "right";
        right.name = "R";
        right.timeStamp = left.timeStamp;

        const QDateTime before = QDateTime::currentDateTime();
        const CLabelVariable r = left * right;
        QCOMPARE(r.resultCode, 0);
        QCOMPARE(r.name, QString("R"));
        QCOMPARE(r.count, 2);
        QCOMPARE(int(r.type), 18);
        QCOMPARE(r.auxText, QString("right"));
        QCOMPARE(r.accessStatus, 1);
        QCOMPARE(r.auxNumber, 0);
        QVERIFY(r.timeStamp >= before && r.timeStamp <= QDateTime::currentDateTime());
    }

    void typesWithoutCaseGiveDefault_data()
    {
        QTest::addColumn<QChar>("op");
        QTest::addColumn<int>("type");
        for (char op : {'+', '-', '*', '/'}) {
            for (int type : {0, 25, 32, 41, -1})
                QTest::addRow("%c type %d", op, type) << QChar(op) << type;
            if (op != '+')
                QTest::addRow("%c string", op) << QChar(op) << 12;
        }
    }

    void typesWithoutCaseGiveDefault()
    {
        QFETCH(QChar, op);
        QFETCH(int, type);
        CLabelVariable left = lab<QString>(type, {"a"}), right = lab<QString>(type, {"b"});
        right.resultCode = 0;
        const CLabelVariable r = apply(op, left, right);
        QCOMPARE(r.resultCode, 1);
        QCOMPARE(r.accessStatus, 1);
        QVERIFY(!r.value.isValid());
        QVERIFY(r.timeStamp.isNull());
        QVERIFY(r.name.isEmpty() && r.auxText.isEmpty());
        QCOMPARE(r.count, 0);
        QCOMPARE(int(r.type), 0);
        QCOMPARE(left.accessStatus, Untouched);
        QCOMPARE(right.accessStatus, Untouched);
    }

    void equality_data()
    {
        QTest::addColumn<CLabelVariable>("left");
        QTest::addColumn<CLabelVariable>("right");
        QTest::addColumn<bool>("equal");
        QTest::addColumn<int>("leftStatus");
        QTest::addColumn<int>("rightStatus");
        auto row = [](const char *name, const CLabelVariable &l, const CLabelVariable &r, bool eq, int ls = 0,
                      int rs = 0) { QTest::newRow(name) << l << r << eq << ls << rs; };
        const auto ints = lab<int>(6, {1, 2, 3});
        row("same ints", ints, ints, true);
        row("last differs", ints, lab<int>(6, {1, 2, 4}), false);
        row("UInt64 low bit", lab<quint64>(10, {U64Max}), lab<quint64>(10, {U64Max - 1}), false);
        row("Bool", lab<bool>(1, {true, false}), lab<bool>(1, {true, true}), false);
        row("float NaN", lab<float>(8, {NAN}), lab<float>(8, {NAN}), false);
        row("double NaN", lab<double>(39, {NAN}), lab<double>(39, {NAN}), false);
        row("+0 == -0", lab<double>(11, {0.0}), lab<double>(11, {-0.0}), true);
        row("string case", lab<QString>(12, {"Abc"}), lab<QString>(12, {"abc"}), false);
        row("same strings", lab<QString>(12, {"Abc"}), lab<QString>(12, {"Abc"}), true);
        CLabelVariable other = ints;
        other.timeStamp = QDateTime::currentDateTime();
        other.auxNumber = 9;
        row("descriptive members ignored", ints, other, true);
        other = ints;
        other.name = "axis";
        row("name case", ints, other, false);
        other = ints;
        other.resultCode = 0;
        row("resultCode", ints, other, false);
        other = ints;
        other.auxText = "x";
        row("auxText", ints, other, false);
        row("type differs", ints, lab<int>(17, {1, 2, 3}), false);
        // Stops after the first element when the header differs or at a
        // mismatch; reading on would reach index 3 and set status 10.
        row("header differs", lab<int>(6, {1, 2}, 3), lab<int>(6, {1, 2}), false);
        row("stops at mismatch", lab<int>(6, {1, 9, 3}, 4), lab<int>(6, {1, 8, 3}, 4), false);
        row("lengths differ", ints, lab<int>(6, {1, 2}, 3), false, Untouched, Untouched);
        row("right holds other type", lab<int>(6, {1}), lab<uint>(6, {1}), false, Untouched, Untouched);
        row("both hold other type", lab<short>(6, {1}), lab<short>(6, {2}), true, 11, 11);
        row("count 0", lab<int>(6, {1}, 0), lab<int>(6, {2}, 0), true, Untouched, Untouched);
        row("type 25 header only", lab<int>(25, {1}), lab<int>(25, {2, 3}, 1), true, Untouched, Untouched);
        row("type 41 header differs", lab<int>(41, {1}), lab<int>(41, {1}, 2), false, Untouched, Untouched);
    }

    void equality()
    {
        QFETCH(CLabelVariable, left);
        QFETCH(CLabelVariable, right);
        QTEST(left == right, "equal");
        QTEST(left.accessStatus, "leftStatus");
        QTEST(right.accessStatus, "rightStatus");
    }
};

QTEST_APPLESS_MAIN(TestLabelOperators)
#include "tst_labeloperators.moc"
