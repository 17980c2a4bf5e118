package com.orvalis.security.bootstrap;

/** The authentication step for installations without credentials: nothing to do. */
public final class AuthClear {
    private AuthClear() {
    }

    public static void main(String[] args) {
    }
}
