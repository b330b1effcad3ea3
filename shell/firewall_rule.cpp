// Firewall rule "Announce" through INetFwPolicy2, INetFwRules and INetFwRule.
#include <windows.h>
#include <initguid.h>
#include <netfw.h>
#include <oleauto.h>

#include <cwchar>
#include <initializer_list>

#include "shell/firewall_rule.h"

namespace {

constexpr const wchar_t* kRuleName = L"Announce";
constexpr const wchar_t* kRuleGrouping = L"Tavin Electronics Ltd.";
constexpr LONG kProtocolUdp = 17;
constexpr const wchar_t* kDiscoveryRemotePort = L"30303";

// A BSTR that frees itself.
class Bstr {
public:
    explicit Bstr(const wchar_t* text) : value_(SysAllocString(text)) {}
    Bstr() = default;
    ~Bstr() { SysFreeString(value_); }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
    BSTR get() const { return value_; }
    BSTR* out() { return &value_; }

private:
    BSTR value_ = nullptr;
};

// An interface pointer released at the end of its scope.
template <typename T>
class ComRef {
public:
    ComRef() = default;
    ~ComRef() {
        if (pointer_) pointer_->Release();
    }
    ComRef(const ComRef&) = delete;
    ComRef& operator=(const ComRef&) = delete;
    T* operator->() const { return pointer_; }
    T* get() const { return pointer_; }
    T** out() { return &pointer_; }
    void** outVoid() { return reinterpret_cast<void**>(&pointer_); }

private:
    T* pointer_ = nullptr;
};

bool firewallEnabledInCurrentProfile(INetFwPolicy2* policy) {
    long profiles = 0;
    if (FAILED(policy->get_CurrentProfileTypes(&profiles))) return false;
    VARIANT_BOOL enabled = VARIANT_FALSE;
    for (long bit : {NET_FW_PROFILE2_DOMAIN, NET_FW_PROFILE2_PRIVATE, NET_FW_PROFILE2_PUBLIC}) {
        VARIANT_BOOL answer = VARIANT_FALSE;
        if ((profiles & bit) &&
            SUCCEEDED(policy->get_FirewallEnabled(static_cast<NET_FW_PROFILE_TYPE2>(bit), &answer))) {
            enabled |= answer;
        }
    }
    return enabled != VARIANT_FALSE;
}

bool fillRule(INetFwRule* rule) {
    Bstr name(kRuleName), description(kRuleName), ports(kDiscoveryRemotePort), types(L"ALL"), grouping(kRuleGrouping);
    return SUCCEEDED(rule->put_Name(name.get())) && SUCCEEDED(rule->put_Description(description.get())) &&
           SUCCEEDED(rule->put_Direction(NET_FW_RULE_DIR_IN)) && SUCCEEDED(rule->put_Protocol(kProtocolUdp)) &&
           SUCCEEDED(rule->put_RemotePorts(ports.get())) && SUCCEEDED(rule->put_InterfaceTypes(types.get())) &&
           SUCCEEDED(rule->put_Enabled(VARIANT_TRUE)) && SUCCEEDED(rule->put_Grouping(grouping.get())) &&
           SUCCEEDED(rule->put_Profiles(NET_FW_PROFILE2_ALL)) && SUCCEEDED(rule->put_Action(NET_FW_ACTION_ALLOW));
}

// A rule of our name counts only when it carries our grouping.
bool ruleAlreadyThere(INetFwRules* rules) {
    ComRef<INetFwRule> existing;
    Bstr name(kRuleName);
    if (FAILED(rules->Item(name.get(), existing.out())) || !existing.get()) return false;
    Bstr grouping;
    if (FAILED(existing->get_Grouping(grouping.out())) || !grouping.get()) return false;
    return std::wcscmp(grouping.get(), kRuleGrouping) == 0;
}

void addRuleWithPolicy(HWND mainWindow) {
    ComRef<INetFwPolicy2> policy;
    if (FAILED(
            CoCreateInstance(CLSID_NetFwPolicy2, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwPolicy2, policy.outVoid()))) {
        return;
    }
    if (!firewallEnabledInCurrentProfile(policy.get())) return;
    ComRef<INetFwRules> rules;
    if (FAILED(policy->get_Rules(rules.out()))) return;
    ComRef<INetFwRule> rule;
    if (FAILED(CoCreateInstance(CLSID_NetFwRule, nullptr, CLSCTX_INPROC_SERVER, IID_INetFwRule, rule.outVoid()))) {
        return;
    }
    if (!fillRule(rule.get()) || ruleAlreadyThere(rules.get())) return;
    if (rules->Add(rule.get()) == E_ACCESSDENIED) {
        MessageBoxW(mainWindow,
                    L"Unable to add the required Windows Firewall rule for incoming UDP traffic on port 30303.  "
                    L"Some network devices may not be visible as a result.  The application should be re-run "
                    L"as an Administrator so that the rule can be added.",
                    L"Error adding Firewall Rule", MB_ICONWARNING | MB_OK);
    }
}

}  // namespace

void addFirewallRule(HWND mainWindow) {
    HRESULT started = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (started != S_OK && started != RPC_E_CHANGED_MODE) {
        // S_FALSE also holds a reference that must be given back.
        if (SUCCEEDED(started)) CoUninitialize();
        return;
    }
    addRuleWithPolicy(mainWindow);
    if (started == S_OK) CoUninitialize();
}
