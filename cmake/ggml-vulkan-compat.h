// Vulkan headers older than 1.3.261 (Debian 12 has 1.3.239) lack VK_EXT_layer_settings,
// whose types ggml's Vulkan backend names when it creates its instance; it only enables the
// extension for its validation build. These stand-ins have the extension's layout, so the
// structure it chains into the instance's creation reads the same as with newer headers.
#pragma once

#include <vulkan/vulkan_core.h>

#ifndef VK_EXT_layer_settings
#include <cstdint>
#include <vector>

namespace vk {
enum class LayerSettingTypeEXT : int32_t { eBool32 = 0 };

struct LayerSettingEXT
{
    const char *pLayerName;
    const char *pSettingName;
    LayerSettingTypeEXT type;
    uint32_t valueCount;
    const void *pValues;
};

struct LayerSettingsCreateInfoEXT
{
    explicit LayerSettingsCreateInfoEXT(const std::vector<LayerSettingEXT> &settings)
        : settingCount(uint32_t(settings.size()))
        , pSettings(settings.data())
    {
    }

    VkStructureType sType = VkStructureType(1000496000); // VK_STRUCTURE_TYPE_LAYER_SETTINGS_CREATE_INFO_EXT
    const void *pNext = nullptr;
    uint32_t settingCount;
    const LayerSettingEXT *pSettings;
};
} // namespace vk
#endif
