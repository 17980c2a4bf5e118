package com.vantrel.enterprise.server;

/**
 * Switching the identity of a server started as root. The natives live in the launcher
 * executable. A numeric text is taken as an id, anything else as a name.
 */
public final class UserId {
    private UserId() {
    }

    /** Switches the process to the user; false when not permitted. */
    public static native boolean setUser(String user);

    /** Switches the process to the group; false when not permitted. */
    public static native boolean setGroup(String group);

    /** Whether the real or, failing that, the effective user is root. */
    public static native boolean isRootUser();
}
