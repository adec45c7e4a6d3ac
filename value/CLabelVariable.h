// The value exchanged between a host and a PLC driver plug-in: one variable's
// elements with their type, count, address text, outcome and time stamp.
// Host and plug-in link the same library, so they share one definition.
#ifndef CLABELVARIABLE_H
#define CLABELVARIABLE_H

#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>
#include <QtGlobal>

#if defined(CLABELVARIABLE_LIBRARY)
#define CLABELVARIABLE_EXPORT Q_DECL_EXPORT
#else
#define CLABELVARIABLE_EXPORT Q_DECL_IMPORT
#endif

// Element types by code. A DataType may also hold the host's further codes
// 13 to 40; only the label operators fold those onto the base types.
enum DataType : qint32 {
    DT_None = 0,
    DT_Bool = 1,
    DT_Int8 = 2,
    DT_UInt8 = 3,
    DT_Int16 = 4,
    DT_UInt16 = 5,
    DT_Int32 = 6,
    DT_UInt32 = 7,
    DT_Float = 8,
    DT_Int64 = 9,
    DT_UInt64 = 10,
    DT_Double = 11,
    DT_String = 12
};

class CLABELVARIABLE_EXPORT CLabelVariable
{
public:
    CLabelVariable();
    CLabelVariable(const CLabelVariable &other);
    // Takes the outcome of another label but keeps this label's
    // accessStatus and auxNumber.
    CLabelVariable &operator=(const CLabelVariable &other);
    ~CLabelVariable();

    // Each accessor returns element `index` of the list held in `value` and
    // sets accessStatus: 0 read, 10 index out of range, 11 `value` holds no
    // list of that element type (then the failure value 0/false/null).
    bool atbool(int index);
    char atchar(int index);
    char atInt8(int index);
    unsigned char atUInt8(int index);
    short atInt16(int index);
    unsigned short atUInt16(int index);
    int atInt32(int index);
    unsigned int atUInt32(int index);
    float atFloat(int index);
    long long atInt64(int index);
    unsigned long long atUInt64(int index);
    double atDouble(int index);
    QString atQString(int index);

    // Element-wise arithmetic and comparison, decided by the left operand's
    // type. They read both operands through the accessors, so both
    // operands' accessStatus changes.
    CLabelVariable operator+(const CLabelVariable &right);
    CLabelVariable operator-(const CLabelVariable &right);
    CLabelVariable operator*(const CLabelVariable &right);
    CLabelVariable operator/(const CLabelVariable &right);
    bool operator==(const CLabelVariable &right);

    // Result codes of a read or write.
    enum ResultCode : qint32 {
        RC_Success = 0,
        RC_NotDone = 1,
        RC_TypeNotHandled = 2,
        RC_NoArea = 3,
        RC_CountBelowOne = 4,
        RC_BadOffsetOrCount = 5,
        RC_Busy = 6, // another request of this driver is waiting for its reply; nothing sent
        RC_WrongReply = 7,
        RC_NoReply = 8,
        RC_LinkDown = 9
    };
    // Outcomes of the last element access.
    enum AccessStatus : qint32 { AS_Read = 0, AS_NotAccessed = 1, AS_OutOfRange = 10, AS_WrongListType = 11 };

    qint32 resultCode;
    // mutable: the operators record element accesses on their right
    // operand too, which they receive as a constant reference.
    mutable qint32 accessStatus;
    QVariant value;
    QDateTime timeStamp;
    QString name;
    qint32 count;
    DataType type;
    qint32 auxNumber;
    QString auxText;
};

#endif // CLABELVARIABLE_H
