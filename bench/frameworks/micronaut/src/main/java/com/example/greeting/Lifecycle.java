package com.example.greeting;

import io.micronaut.context.event.ApplicationEventListener;
import io.micronaut.context.event.ShutdownEvent;
import jakarta.inject.Singleton;

/** Says when the application context has shut down, after the server's graceful stop. */
@Singleton
public class Lifecycle implements ApplicationEventListener<ShutdownEvent> {
  @Override
  public void onApplicationEvent(ShutdownEvent event) {
    System.out.println("greeting: shut down");
  }
}
