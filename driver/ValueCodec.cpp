#include "driver/ValueCodec.h"

#include "value/ElementType.h"

#include <mutex>

QVariant ValueCodec::decode(int type, const char *bytes, qint64 size, int count)
{
    QVariant value;
    withElementType(type,
                    [&](auto tag) { value = decode<typename decltype(tag)::type>(bytes, size, count); });
    return value;
}

void ValueCodec::encode(int type, const QVariant &value, int count, QByteArray *out)
{
    withElementType(type, [&](auto tag) { encode<typename decltype(tag)::type>(value, count, out); });
}

int ValueCodec::elementsHeld(int type, const QVariant &value)
{
    if (type == DT_String && value.userType() == QMetaType::QStringList)
        return value.toStringList().size();
    int held = -1;
    withListType(type, [&](auto tag) {
        using T = typename decltype(tag)::type;
        if (value.userType() == qMetaTypeId<QList<T>>())
            held = static_cast<const QList<T> *>(value.constData())->size();
    });
    return held;
}

int ValueCodec::elementWidth(int type)
{
    int width = 0;
    withElementType(type, [&](auto tag) { width = int(sizeof(typename decltype(tag)::type)); });
    return width;
}

qint64 ValueCodec::byteLength(int type, qint64 count)
{
    return elementWidth(type) * count;
}

void ValueCodec::registerListTypes()
{
    static std::once_flag once;
    std::call_once(once, []() {
        for (int type = DT_None; type <= DT_String; ++type)
            withListType(type, [](auto tag) { qRegisterMetaType<QList<typename decltype(tag)::type>>(); });
    });
}
