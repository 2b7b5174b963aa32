#include "net/windows/IdWinSock2.h"

#include "host/SystemError.h"
#include "net/IdExceptionCore.h"
#include "net/IdStack.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace IdWinsock;

TEST(WinsockBindingTable, HoldsTheLibraryFunctionsInTheirFixedOrder) {
    ASSERT_EQ(EntryCount, 109u);
    EXPECT_STREQ(EntryName(Entry::WSACleanup_), "WSACleanup");
    EXPECT_STREQ(EntryName(Entry::socket_), "socket");
    EXPECT_EQ(static_cast<std::size_t>(Entry::socket_), 23u);
    EXPECT_STREQ(EntryName(Entry::__WSAFDIsSet_), "__WSAFDIsSet");
    EXPECT_EQ(static_cast<std::size_t>(Entry::__WSAFDIsSet_), 45u);
    EXPECT_STREQ(EntryName(static_cast<Entry>(EntryCount - 1)), "TransmitFile");
    // The generic protocol enumeration binds the A name; every other generic
    // entry binds its own name, and the start-up call is not in the table.
    EXPECT_STREQ(EntryName(Entry::WSAEnumProtocolsGeneric_), "WSAEnumProtocolsA");
    EXPECT_STREQ(EntryName(Entry::WSASocketGeneric_), "WSASocket");
    std::multiset<std::string> names;
    for (std::size_t i = 0; i < EntryCount; ++i) names.insert(EntryName(static_cast<Entry>(i)));
    EXPECT_EQ(names.count("WSAStartup"), 0u);
    EXPECT_EQ(names.count("WSAEnumProtocolsA"), 2u);
}

// One sequence, because the library can be loaded only once per process.
TEST(WinsockBindingTable, EntriesRaiseBeforeLoadingThenBindOnFirstCall) {
    ASSERT_FALSE(LibraryLoaded());
    char name[251] = {};
    try {
        IdWinsock::gethostname(name, 250);
        FAIL() << "an entry must not be callable before the library is loaded";
    } catch (const EIdWinsockStubError& e) {
        EXPECT_EQ(e.SystemErrorNumber(), 10093u);
        EXPECT_EQ(e.Summary(), "Error on call Winsock2 library function gethostname");
        EXPECT_EQ(std::string(e.what()),
                  e.Summary() + ": " + SystemErrorText(Id_WSANOTINITIALISED));
    }
    EXPECT_TRUE(IsUnbound(Entry::gethostname_));

    {
        TIdStackReference stack; // loads and starts the library, reads the host name
        EXPECT_TRUE(LibraryLoaded());
        EXPECT_TRUE(StackLibraryStarted());
        EXPECT_EQ(StackLibraryStartCount(), 1);
        EXPECT_FALSE(IsUnbound(Entry::gethostname_));
        EXPECT_TRUE(IsUnbound(Entry::WSAIsBlocking_));
        EXPECT_EQ(IdWinsock::gethostname(name, 250), 0);
        EXPECT_EQ(CurrentStack()->OwnHostName, name);
    }
    {
        TIdStackReference again; // a new stack, but no second start of the library
        EXPECT_EQ(StackLibraryStartCount(), 1);
        EXPECT_EQ(LoadAndStartLibrary(0x0202), 0);
    }
    EXPECT_FALSE(IsUnbound(Entry::gethostname_)); // stays bound after the stack is gone

    // The current library has the IPv6 name functions itself; Wship6.dll is gone.
    EXPECT_TRUE(IPv6NamesAvailable());
    EXPECT_NE(GetAddrInfo(), nullptr);
    EXPECT_NE(GetNameInfo(), nullptr);
    EXPECT_NE(FreeAddrInfo(), nullptr);

    // A name the library does not export is reported, not called.
    try {
        IdWinsock::WSASocketGeneric(AF_INET, SOCK_STREAM, 0, nullptr, 0, 0);
        FAIL();
    } catch (const EIdWinsockStubError& e) {
        EXPECT_EQ(e.Summary(), "Error on call Winsock2 library function WSASocket");
        EXPECT_EQ(e.SystemErrorNumber(), static_cast<std::uint32_t>(ERROR_PROC_NOT_FOUND));
    }
}
