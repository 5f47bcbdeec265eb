#include "settings/Reg.h"

#include "platform/Platform.h"
#include "platform/Prompts.h"
#include "settings/RegFile.h"
#include "settings/RegistryStore.h"
#include "util/Error.h"
#include "util/StrUtil.h"

namespace pagewren {

namespace {

// Closes an opened key on every way out.
class KeyCloser {
public:
    KeyCloser(Registry& registry, RegKey key) : m_registry(registry), m_key(key) {}
    ~KeyCloser()
    {
        try {
            m_registry.closeKey(m_key);
        } catch (...) {
            // Closing is the last step; a failure there must not hide the result.
        }
    }
    KeyCloser(const KeyCloser&) = delete;
    KeyCloser& operator=(const KeyCloser&) = delete;

private:
    Registry& m_registry;
    RegKey m_key;
};

std::int32_t littleEndianInteger(const std::string& data)
{
    std::uint32_t number = 0;
    for (std::size_t i = 0; i < 4 && i < data.size(); ++i)
        number |= static_cast<std::uint32_t>(static_cast<unsigned char>(data[i])) << (8 * i);
    return static_cast<std::int32_t>(number);
}

// Every right but deleting the key and changing its security: enough to write values.
constexpr std::uint32_t CreateAccess = RegAccess::QueryValue | RegAccess::SetValue |
                                       RegAccess::CreateSubKey | RegAccess::EnumerateSubKeys |
                                       RegAccess::Notify | RegAccess::CreateLink;

} // namespace

CReg::CReg() : CReg(RegistryStore::system(), Platform::system().prompts) {}

CReg::CReg(Registry& registry, Prompts& prompts) : m_registry(registry), m_prompts(prompts) {}

CReg::~CReg() = default;

void CReg::RegReadValue(const std::string& KeyName, const std::string& ValueName, RegKey RootKey,
                        RegData& Value)
{
    try {
        Value = std::string();
        RegKey key{};
        if (m_registry.openKey(RootKey, KeyName, RegAccess::QueryValue, key) != RegResult::Success)
            return;
        const KeyCloser closer(m_registry, key);
        RegType type = RegType::None;
        std::string data;
        if (m_registry.queryValue(key, ValueName, type, data) != RegResult::Success)
            return;
        switch (type) {
        case RegType::Sz:
            Value = std::move(data);
            break;
        case RegType::Binary:
        case RegType::Dword:
            Value = littleEndianInteger(data);
            break;
        default:
            break;
        }
    } catch (...) {
        ShowRegError("Reg:RegReadValue");
        throw;
    }
}

std::string CReg::RegGet(const std::string& KeyName, const std::string& ValueName,
                         const std::string& Default, RegKey RootKey)
{
    try {
        RegData value;
        RegReadValue(KeyName, ValueName, RootKey, value);
        const std::string text = std::holds_alternative<std::int32_t>(value)
                                     ? std::to_string(std::get<std::int32_t>(value))
                                     : std::get<std::string>(value);
        std::string result = TrimBlanks(text);
        return result.empty() ? TrimBlanks(Default) : result;
    } catch (...) {
        throw Error("Reg:RegGet");
    }
}

void CReg::RegCreateNewKey(const std::string& KeyName, const std::string& ValueName,
                           const std::string& Data, RegKey RootKey)
{
    try {
        RegKey key{};
        if (m_registry.createKey(RootKey, KeyName, CreateAccess, key) != RegResult::Success)
            return;
        const KeyCloser closer(m_registry, key);
        m_registry.setValue(key, ValueName, RegType::Sz, Data);
    } catch (...) {
        ShowRegError("Reg:RegCreateNewKey");
        throw;
    }
}

void CReg::RegSet(const std::string& KeyName, const std::string& ValueName, const std::string& Data,
                  RegKey RootKey)
{
    try {
        RegCreateNewKey(KeyName, ValueName, Data, RootKey);
    } catch (...) {
        ShowRegError("Reg:RegSet");
        throw;
    }
}

std::string CReg::ConvertRootKey(RegKey RootKey) const
{
    return RegFile::rootName(RootKey);
}

void CReg::ShowRegError(const std::string& Text)
{
    m_prompts.error(Text);
}

} // namespace pagewren
