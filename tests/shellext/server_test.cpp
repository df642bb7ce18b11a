// The COM server as the shell meets it: registration, class and interface
// refusals, one identity, reference and object counts, the unload test and
// the trace lines of each entry point.
#include <gtest/gtest.h>

#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include "shell_host.h"
#include "trace_capture.h"

namespace {

using kstest::ShellHost;

void* const kGarbage = reinterpret_cast<void*>(static_cast<uintptr_t>(0x1234));

// The server's exports, taken from the DLL that COM loads.
struct ServerExports {
    HMODULE module = nullptr;
    HRESULT(WINAPI* getClassObject)(REFCLSID, REFIID, void**) = nullptr;
    HRESULT(WINAPI* canUnloadNow)() = nullptr;

    ServerExports() {
        module = LoadLibraryA((kstest::ProgramFolder() + "\\keepshel.dll").c_str());
        if (!module) return;
        getClassObject = reinterpret_cast<decltype(getClassObject)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllGetClassObject")));
        canUnloadNow = reinterpret_cast<decltype(canUnloadNow)>(
            reinterpret_cast<void*>(GetProcAddress(module, "DllCanUnloadNow")));
    }
    ~ServerExports() {
        if (module) FreeLibrary(module);
    }
    bool ok() const { return getClassObject && canUnloadNow; }

    IClassFactory* Factory() {
        void* factory = nullptr;
        getClassObject(kstest::kKeepsakeClassId, IID_IClassFactory, &factory);
        return static_cast<IClassFactory*>(factory);
    }
};

class Server : public ::testing::Test {
protected:
    void SetUp() override {
        CoInitialize(nullptr);
        ASSERT_TRUE(registration.ok()) << registration.error();
        ASSERT_TRUE(server.ok());
    }
    void TearDown() override { CoUninitialize(); }
    kstest::ShellRegistration registration;
    ServerExports server;
};

TEST(ServerLibrary, EntryPointTracesAttachAndDetach) {
    if (GetModuleHandleA("keepshel.dll")) GTEST_SKIP() << "keepshel.dll is loaded already";
    kstest::TraceCapture trace;
    HMODULE module = LoadLibraryA((kstest::ProgramFolder() + "\\keepshel.dll").c_str());
    ASSERT_NE(module, nullptr);
    FreeLibrary(module);
    EXPECT_EQ(trace.Count("In DLLMain, DLL_PROCESS_ATTACH\r\n"), 1u);
    EXPECT_EQ(trace.Count("In DLLMain, DLL_PROCESS_DETACH\r\n"), 1u);
}

TEST(Registration, WritesTheKeysTheShellLoadsHandlersFrom) {
    kstest::ShellRegistration registration;
    ASSERT_TRUE(registration.ok()) << registration.error();
    const std::string id = "{5B2E7C41-9A3D-4F18-B6C2-7E1D0A94C3F5}";
    auto value = [](HKEY root, const std::string& key, const char* name) {
        char data[MAX_PATH] = "";
        DWORD size = sizeof data;
        HKEY opened = nullptr;
        if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS) return std::string("<none>");
        LONG status = RegQueryValueExA(opened, name, nullptr, nullptr, reinterpret_cast<BYTE*>(data), &size);
        RegCloseKey(opened);
        return status == ERROR_SUCCESS ? std::string(data) : std::string("<none>");
    };
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, "CLSID\\" + id + "\\InprocServer32", nullptr),
              kstest::ProgramFolder() + "\\keepshel.dll");
    EXPECT_EQ(value(HKEY_CLASSES_ROOT, "CLSID\\" + id + "\\InprocServer32", "ThreadingModel"), "Apartment");
    for (const char* key : {"*\\shellex\\ContextMenuHandlers\\Keepsake", "Directory\\shellex\\ContextMenuHandlers\\Keepsake",
                            "*\\shellex\\PropertySheetHandlers\\Keepsake", "Directory\\shellex\\CopyHookHandlers\\Keepsake"})
        EXPECT_EQ(value(HKEY_CLASSES_ROOT, key, nullptr), id) << key;
    EXPECT_EQ(value(HKEY_LOCAL_MACHINE, "Software\\Microsoft\\Windows\\CurrentVersion\\Shell Extensions\\Approved",
                    id.c_str()),
              "Keepsake");
}

TEST(Registration, LeavesNothingBehind) {
    { kstest::ShellRegistration registration; ASSERT_TRUE(registration.ok()) << registration.error(); }
    HKEY key = nullptr;
    EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, "CLSID\\{5B2E7C41-9A3D-4F18-B6C2-7E1D0A94C3F5}", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    EXPECT_NE(RegOpenKeyExA(HKEY_CLASSES_ROOT, "*\\shellex\\ContextMenuHandlers\\Keepsake", 0, KEY_READ, &key),
              ERROR_SUCCESS);
    ShellHost host;
    EXPECT_EQ(host.Create(), REGDB_E_CLASSNOTREG);
}

TEST_F(Server, RefusesForeignClassesInterfacesAndAggregation) {
    kstest::TraceCapture trace;
    void* out = kGarbage;
    EXPECT_EQ(server.getClassObject(IID_IContextMenu, IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_TRUE(trace.Contains("In DllGetClassObject\r\n"));

    out = kGarbage;
    EXPECT_EQ(server.getClassObject(kstest::kKeepsakeClassId, IID_IContextMenu, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    IClassFactory* factory = server.Factory();
    ASSERT_NE(factory, nullptr);
    out = kGarbage;
    EXPECT_EQ(factory->QueryInterface(IID_IShellExtInit, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);

    out = kGarbage;
    IUnknown* outer = factory;
    EXPECT_EQ(factory->CreateInstance(outer, IID_IUnknown, &out), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);

    // An object whose interface is refused must not stay alive.
    out = kGarbage;
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(trace.Count("CShellExt::QueryInterface()==>Unknown Interface!\r\n"), 1u);
    EXPECT_EQ(factory->Release(), 0u);
    EXPECT_EQ(server.canUnloadNow(), S_OK);

    // Only the single-byte copy hook is answered.
    ShellHost host;
    ASSERT_EQ(host.Create(), S_OK);
    trace.Clear();
    out = kGarbage;
    EXPECT_EQ(host.init()->QueryInterface(IID_IShellCopyHookW, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(trace.Lines(), std::vector<std::string>{"CShellExt::QueryInterface()==>Unknown Interface!\r\n"});
}

TEST_F(Server, EachCallMakesAFreshFactoryThatKeepsNoLock) {
    IClassFactory* first = server.Factory();
    IClassFactory* second = server.Factory();
    ASSERT_NE(first, nullptr);
    EXPECT_NE(first, second);
    EXPECT_EQ(first->LockServer(TRUE), S_OK);
    EXPECT_EQ(first->AddRef(), 2u);
    EXPECT_EQ(first->Release(), 1u);
    EXPECT_EQ(first->Release(), 0u);
    EXPECT_EQ(second->Release(), 0u);
    // LockServer counted nothing.
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(Server, ObjectHasOneIdentityAcrossItsFourInterfaces) {
    ShellHost host;
    ASSERT_EQ(host.Create(), S_OK);
    kstest::TraceCapture trace;
    IUnknown* identity = nullptr;
    IShellExtInit* init = nullptr;
    ASSERT_EQ(host.init()->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    ASSERT_EQ(host.init()->QueryInterface(IID_IShellExtInit, reinterpret_cast<void**>(&init)), S_OK);
    EXPECT_EQ(static_cast<void*>(identity), static_cast<void*>(init));
    EXPECT_EQ(trace.Count("CShellExt::QueryInterface()==>IID_IShellExtInit\r\n"), 2u);

    struct Face {
        const IID& id;
        const char* line;
    };
    for (const Face& face : {Face{IID_IContextMenu, "CShellExt::QueryInterface()==>IID_IContextMenu\r\n"},
                             Face{IID_IShellPropSheetExt, "CShellExt::QueryInterface()==>IShellPropSheetExt\r\n"},
                             Face{IID_IShellCopyHookA, "CShellExt::QueryInterface()==>ICopyHook\r\n"}}) {
        IUnknown* other = nullptr;
        ASSERT_EQ(host.init()->QueryInterface(face.id, reinterpret_cast<void**>(&other)), S_OK);
        EXPECT_TRUE(trace.Contains(face.line));
        IUnknown* back = nullptr;
        ASSERT_EQ(other->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&back)), S_OK);
        EXPECT_EQ(back, identity);
        back->Release();
        other->Release();
    }
    init->Release();
    identity->Release();
}

TEST_F(Server, ActivationThroughComWritesEachTraceLine) {
    kstest::TraceCapture trace;
    {
        ShellHost host;
        ASSERT_EQ(host.Create(), S_OK);
    }
    for (const char* line : {"In DllGetClassObject\r\n", "CShellExtClassFactory::CShellExtClassFactory()\r\n",
                             "CShellExtClassFactory::QueryInterface()\r\n",
                             "CShellExtClassFactory::CreateInstance()\r\n", "CShellExt::CShellExt()\r\n",
                             "CShellExt::QueryInterface()==>IID_IShellExtInit\r\n",
                             "CShellExt::QueryInterface()==>IID_IContextMenu\r\n", "CShellExt::AddRef()\r\n",
                             "CShellExt::Release()\r\n"})
        EXPECT_TRUE(trace.Contains(line)) << line;
    EXPECT_EQ(trace.Count("CShellExt::CShellExt()\r\n"), 1u);
    EXPECT_EQ(trace.Count("CShellExt::AddRef()\r\n"), trace.Count("CShellExt::Release()\r\n"));
}

TEST_F(Server, CannotUnloadWhileAFactoryOrObjectLives) {
    kstest::TraceCapture trace;
    ASSERT_EQ(server.canUnloadNow(), S_OK);
    EXPECT_TRUE(trace.Contains("In DLLCanUnloadNow\r\n"));

    IClassFactory* factory = server.Factory();
    ASSERT_NE(factory, nullptr);
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);

    IContextMenu* menu = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IContextMenu, reinterpret_cast<void**>(&menu)), S_OK);
    factory->Release();
    EXPECT_EQ(server.canUnloadNow(), S_FALSE);  // the object alone keeps the library

    EXPECT_EQ(menu->AddRef(), 2u);
    EXPECT_EQ(menu->Release(), 1u);
    EXPECT_EQ(menu->Release(), 0u);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

struct Hammer {
    IUnknown* object;
    HANDLE start;
};

DWORD WINAPI AddAndRelease(void* param) {
    auto* hammer = static_cast<Hammer*>(param);
    WaitForSingleObject(hammer->start, 10000);
    for (int i = 0; i < 3000; ++i) {
        hammer->object->AddRef();
        hammer->object->Release();
    }
    return 0;
}

// The shell calls extension objects from several threads.
TEST_F(Server, CountsHoldUnderCallsFromSeveralThreads) {
    IClassFactory* factory = server.Factory();
    ASSERT_NE(factory, nullptr);
    IUnknown* object = nullptr;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IUnknown, reinterpret_cast<void**>(&object)), S_OK);
    factory->Release();

    Hammer hammer{object, CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    HANDLE threads[4];
    for (HANDLE& thread : threads) thread = CreateThread(nullptr, 0, AddAndRelease, &hammer, 0, nullptr);
    SetEvent(hammer.start);
    ASSERT_EQ(WaitForMultipleObjects(4, threads, TRUE, 60000), WAIT_OBJECT_0);
    for (HANDLE thread : threads) CloseHandle(thread);
    CloseHandle(hammer.start);

    EXPECT_EQ(object->AddRef(), 2u);
    EXPECT_EQ(object->Release(), 1u);
    EXPECT_EQ(object->Release(), 0u);
    EXPECT_EQ(server.canUnloadNow(), S_OK);
}

TEST_F(Server, CopyHookLetsEveryOperationGoAhead) {
    ShellHost host;
    ASSERT_EQ(host.Create(), S_OK);
    ICopyHookA* hook = nullptr;
    ASSERT_EQ(host.init()->QueryInterface(IID_IShellCopyHookA, reinterpret_cast<void**>(&hook)), S_OK);
    kstest::TraceCapture trace;
    for (UINT operation : {FO_DELETE, FO_MOVE, FO_RENAME, FO_COPY})
        EXPECT_EQ(hook->CopyCallback(nullptr, operation, 0, "C:\\a", FILE_ATTRIBUTE_DIRECTORY, "C:\\b",
                                     FILE_ATTRIBUTE_DIRECTORY),
                  static_cast<UINT>(IDYES))
            << operation;
    EXPECT_EQ(trace.Count("CShellExt::CopyCallback\r\n"), 4u);
    hook->Release();
}

}  // namespace
