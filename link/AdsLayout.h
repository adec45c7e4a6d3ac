// Where every field of an AMS/TCP frame lies: the 6-byte AMS/TCP header, the
// 32-byte AMS header, then the command data. Shared by the link, the
// simulated controller, the tests and the benchmark, so each offset is
// written once.
#ifndef ADSLAYOUT_H
#define ADSLAYOUT_H

#include <QtGlobal>

struct AdsLayout {
    enum : int {
        TcpHeaderSize = 6,
        AmsHeaderSize = 32,
        HeaderSize = TcpHeaderSize + AmsHeaderSize, // 38
        ReadRequestSize = HeaderSize + 12, // 50
        WriteReplySize = HeaderSize + 4, // 42
        ReadReplyHeaderSize = HeaderSize + 8, // 46: result and length before the data
        ReadWriteRequestSize = HeaderSize + 16, // 54, and the write data after it
        AddNotificationRequestSize = HeaderSize + 40, // 78
        NetIdSize = 6
    };
    enum Command : quint16 {
        CmdReadDeviceInfo = 1,
        CmdRead = 2,
        CmdWrite = 3,
        CmdReadState = 4,
        CmdWriteControl = 5,
        CmdAddNotification = 6,
        CmdDeleteNotification = 7,
        CmdNotification = 8, // sent by the controller, never answered
        CmdReadWrite = 9
    };
    enum StateFlag : quint16 { StateResponse = 0x0001, StateAdsCommand = 0x0004 };
    // A notification's transmission modes.
    enum TransmissionMode : quint32 { NotifyCyclic = 3, NotifyOnChange = 4 };
    // Offsets of the header fields, the same in requests and replies.
    enum Offset : int {
        OffTcpLength = 2,
        OffTargetNetId = 6,
        OffTargetPort = 12,
        OffSourceNetId = 14,
        OffSourcePort = 20,
        OffCommand = 22,
        OffStateFlags = 24,
        OffAmsLength = 26,
        OffErrorCode = 30,
        OffInvokeId = 34,
        OffAdsResult = 38, // replies
        OffIndexGroup = 38, // requests
        OffIndexOffset = 42,
        OffRequestLength = 46, // the bytes to read (read, read-write) or written (write)
        OffWriteLength = 50, // read-write: the bytes written
        OffReadLength = 42, // replies: the data bytes that follow
        OffReadData = 46,
        // AddDeviceNotification: after group, offset and length.
        OffTransmissionMode = 50,
        OffMaxDelay = 54,
        OffCycleTime = 58,
        OffNotificationHandle = 42 // its reply: after the result
    };

    // Symbol upload: lookups by name, and the table of all symbols.
    enum IndexGroup : quint32 {
        GroupSymbolInfo = 0xF00F,
        GroupSymbolTable = 0xF00B,
        // The data type table: every type the program declares, its members nested.
        GroupDataTypeTable = 0xF00E,
        GroupSymbolByName = 0xF009,
        // Handles: obtained by name (ReadWrite), the value read and written
        // with the handle as the offset, given back by a write of it.
        GroupSymbolHandleByName = 0xF003,
        GroupSymbolValueByHandle = 0xF005,
        GroupReleaseSymbolHandle = 0xF006,
        // One byte that changes whenever the program's symbols change.
        GroupSymbolVersion = 0xF008
    };
    // A symbol entry, as a lookup answers it and the symbol table lists it:
    // the fixed part, then name, type name and comment, each ended by a zero.
    enum SymbolEntryField : int {
        EntryLength = 0,
        EntryGroup = 4,
        EntryOffset = 8,
        EntrySize = 12,
        EntryDataType = 16,
        EntryFlags = 20,
        EntryNameLength = 24,
        EntryTypeLength = 26,
        EntryCommentLength = 28,
        EntryFixedSize = 30
    };
    // A data type entry of the data type table: the fixed part, then name,
    // type name and comment, each ended by a zero, the array dimensions
    // (lower bound, element count; 4 bytes each) and the sub-items, each an
    // entry of the same form.
    enum DataTypeEntryField : int {
        TypeEntryLength = 0,
        TypeEntryVersion = 4,
        TypeEntryHashValue = 8,
        TypeEntryTypeHashValue = 12,
        TypeEntrySize = 16,
        TypeEntryOffs = 20,
        TypeEntryDataType = 24,
        TypeEntryFlags = 28,
        TypeEntryNameLength = 32,
        TypeEntryTypeLength = 34,
        TypeEntryCommentLength = 36,
        TypeEntryArrayDim = 38,
        TypeEntrySubItems = 40,
        TypeEntryFixedSize = 42,
        TypeDimensionSize = 8
    };
    // The answer of GroupSymbolInfo: symbol count, symbol table bytes, data
    // type count, data type table bytes, 4 bytes each, and two more fields.
    enum UploadInfoField : int {
        InfoSymbolCount = 0,
        InfoSymbolBytes = 4,
        InfoDataTypeCount = 8,
        InfoDataTypeBytes = 12,
        InfoSize = 24
    };
};

#endif // ADSLAYOUT_H
