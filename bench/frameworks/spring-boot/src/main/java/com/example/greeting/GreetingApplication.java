package com.example.greeting;

import org.springframework.boot.SpringApplication;
import org.springframework.boot.autoconfigure.SpringBootApplication;
import org.springframework.web.bind.annotation.GetMapping;
import org.springframework.web.bind.annotation.RequestParam;
import org.springframework.web.bind.annotation.RestController;

@SpringBootApplication
@RestController
public class GreetingApplication {
  // Changed by the tests that rebuild the jar in place, to tell one build from the next.
  static final String GREETING = "Hello";

  @GetMapping("/hello")
  public String hello(@RequestParam(defaultValue = "world") String name) {
    return GREETING + ", " + name + "\n";
  }

  public static void main(String[] args) {
    SpringApplication.run(GreetingApplication.class, args);
  }
}
