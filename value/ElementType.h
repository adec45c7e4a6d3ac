// The one dispatch over element types: calls a template with the C++ type of
// a DataType code. Adding a type is one line here. Internal to the project:
// hosts do not see it.
#ifndef ELEMENTTYPE_H
#define ELEMENTTYPE_H

#include "value/CLabelVariable.h"

#include <QString>

template <typename T>
struct ElementTag {
    using type = T;
};

// f(ElementTag<T>{}) for the eleven types a controller transfers; false,
// without calling f, for any other code.
template <typename F>
bool withElementType(int code, F &&f)
{
    switch (code) {
    case DT_Bool: f(ElementTag<bool>{}); return true;
    case DT_Int8: f(ElementTag<char>{}); return true;
    case DT_UInt8: f(ElementTag<unsigned char>{}); return true;
    case DT_Int16: f(ElementTag<short>{}); return true;
    case DT_UInt16: f(ElementTag<unsigned short>{}); return true;
    case DT_Int32: f(ElementTag<int>{}); return true;
    case DT_UInt32: f(ElementTag<unsigned int>{}); return true;
    case DT_Float: f(ElementTag<float>{}); return true;
    case DT_Int64: f(ElementTag<long long>{}); return true;
    case DT_UInt64: f(ElementTag<unsigned long long>{}); return true;
    case DT_Double: f(ElementTag<double>{}); return true;
    default: return false;
    }
}

// The same, and QString for DT_String: every list type a label holds.
template <typename F>
bool withListType(int code, F &&f)
{
    if (code == DT_String) {
        f(ElementTag<QString>{});
        return true;
    }
    return withElementType(code, f);
}

#endif // ELEMENTTYPE_H
