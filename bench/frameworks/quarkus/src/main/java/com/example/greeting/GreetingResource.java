package com.example.greeting;

import jakarta.ws.rs.DefaultValue;
import jakarta.ws.rs.GET;
import jakarta.ws.rs.Path;
import jakarta.ws.rs.Produces;
import jakarta.ws.rs.QueryParam;
import jakarta.ws.rs.core.MediaType;

@Path("/hello")
public class GreetingResource {
  static final String GREETING = "Hello";

  @GET
  @Produces(MediaType.TEXT_PLAIN)
  public String hello(@QueryParam("name") @DefaultValue("world") String name) {
    return GREETING + ", " + name + "\n";
  }
}
