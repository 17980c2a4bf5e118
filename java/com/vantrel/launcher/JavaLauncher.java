package com.vantrel.launcher;

/**
 * The launcher's natives as the Java side sees them. The launcher registers them right
 * after it has created the VM and then sets {@link #nativeAvailable}; code run by any
 * other launcher finds the field false and must not call them.
 */
public final class JavaLauncher {
    /** True once the launcher has registered the natives below. */
    public static boolean nativeAvailable;

    private JavaLauncher() {
    }

    public static native boolean dumpAllStacks0();

    public static native void hideSplashScreen0();

    public static native boolean checkIfRunningUnderLauncher0();

    public static native int getRegistryValueType0(int root, String key, String name);

    public static native String readRegistryStringValue0(int root, String key, String name);

    public static native byte[] readRegistryBinaryValue0(int root, String key, String name);

    public static native int readRegistryDwordValue0(int root, String key, String name);

    public static native boolean writeRegistryStringValue0(int root, String key, String name, String value);

    public static native boolean writeRegistryBinaryValue0(int root, String key, String name, byte[] value);

    public static native boolean writeRegistryDwordValue0(int root, String key, String name, int value);
}
