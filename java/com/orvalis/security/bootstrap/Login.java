package com.orvalis.security.bootstrap;

import java.lang.reflect.InvocationTargetException;
import java.lang.reflect.Method;
import java.util.Arrays;

/**
 * Security bootstrap: runs the authentication class named first, then the application
 * class named second with the remaining arguments.
 * <pre>
 *   Login &lt;authentication class&gt; &lt;application class&gt; [argument ...]
 * </pre>
 */
public final class Login {
    private Login() {
    }

    public static void main(String[] args) throws Throwable {
        if (args.length < 2) {
            System.err.println("Usage: Login <authentication class> <application class> [argument ...]");
            System.exit(1);
        }
        invokeMain(args[0], new String[0]);
        invokeMain(args[1], Arrays.copyOfRange(args, 2, args.length));
    }

    private static void invokeMain(String className, String[] args) throws Throwable {
        ClassLoader loader = Thread.currentThread().getContextClassLoader();
        if (loader == null) {
            loader = Login.class.getClassLoader();
        }
        Method main = Class.forName(className, true, loader).getMethod("main", String[].class);
        try {
            main.invoke(null, (Object) args);
        } catch (InvocationTargetException e) {
            throw e.getCause();
        }
    }
}
