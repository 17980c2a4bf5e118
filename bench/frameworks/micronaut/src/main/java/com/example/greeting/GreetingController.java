package com.example.greeting;

import io.micronaut.http.MediaType;
import io.micronaut.http.annotation.Controller;
import io.micronaut.http.annotation.Get;
import io.micronaut.http.annotation.Produces;
import io.micronaut.http.annotation.QueryValue;

@Controller("/hello")
public class GreetingController {
  static final String GREETING = "Hello";

  @Get
  @Produces(MediaType.TEXT_PLAIN)
  public String hello(@QueryValue(defaultValue = "world") String name) {
    return GREETING + ", " + name + "\n";
  }
}
