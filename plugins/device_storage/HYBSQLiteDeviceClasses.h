#pragma once

namespace rt {
class ClassRegistry;
}  // namespace rt

// The SQLite storage and device facts plug-ins, made by the class names config.xml uses:
// "SQLitePlugin" and "HYBDevice".
class HYBSQLiteDeviceClasses {
public:
    static void registerClasses(rt::ClassRegistry& registry);
};
