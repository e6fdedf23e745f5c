// The OpenAPI 3.1 document of /api/v1, served as it stands. Attribute names
// and value forms are those of the MQTT side (scenes/zone_attributes.h).
#include "api/api_module.h"

namespace corvane {

namespace {

constexpr std::string_view kDocument = R"JSON({
"openapi": "3.1.0",
"info": {"title": "Corvane API", "version": "1",
  "description": "Zones of the Vaux Aris 700, live events and saved scenes. Attribute names and value forms are those of the MQTT state and /set topics. Errors are application/problem+json."},
"servers": [{"url": "/api/v1"}],
"paths": {
  "/zones": {"get": {"operationId": "listZones", "summary": "All six zones",
    "responses": {"200": {"description": "The zones", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/ZoneList"}}}},
      "401": {"$ref": "#/components/responses/Problem"}}}},
  "/zones/{zone}": {
    "parameters": [{"name": "zone", "in": "path", "required": true, "schema": {"type": "integer", "minimum": 1, "maximum": 6}}],
    "get": {"operationId": "getZone", "summary": "One zone",
      "responses": {"200": {"$ref": "#/components/responses/Zone"}, "404": {"$ref": "#/components/responses/Problem"}}},
    "patch": {"operationId": "setZone", "summary": "Command a zone as MQTT /set does",
      "requestBody": {"required": true, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/ZoneRequest"}}}},
      "responses": {"200": {"$ref": "#/components/responses/Zone"},
        "202": {"description": "The requests wait for the controller link", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Zone"}}}},
        "400": {"$ref": "#/components/responses/Problem"}, "403": {"$ref": "#/components/responses/Problem"},
        "404": {"$ref": "#/components/responses/Problem"}, "415": {"$ref": "#/components/responses/Problem"}}}},
  "/events": {"get": {"operationId": "events", "summary": "Server-Sent Events: snapshot, zone, link",
    "description": "First a snapshot event (data: ZoneList with link), then a zone event per change ({\"zone\": 3, \"attribute\": \"volume\", \"value\": -30}) and a link event ({\"up\": false}) when the controller link goes down or up; keep-alive comments every 15 s.",
    "responses": {"200": {"description": "The event stream", "content": {"text/event-stream": {"schema": {"type": "string"}}}}}}},
  "/scenes": {"get": {"operationId": "listScenes", "summary": "Saved scenes",
    "responses": {"200": {"description": "The scenes", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/SceneList"}}}}}}},
  "/scenes/{name}": {
    "parameters": [{"$ref": "#/components/parameters/SceneName"}],
    "get": {"operationId": "getScene", "responses": {"200": {"$ref": "#/components/responses/Scene"}, "404": {"$ref": "#/components/responses/Problem"}}},
    "put": {"operationId": "saveScene", "summary": "Capture the used zones, or store explicit values",
      "requestBody": {"required": true, "content": {"application/json": {"schema": {"$ref": "#/components/schemas/SceneRequest"}}}},
      "responses": {"200": {"$ref": "#/components/responses/Scene"}, "201": {"$ref": "#/components/responses/Scene"},
        "400": {"$ref": "#/components/responses/Problem"}, "415": {"$ref": "#/components/responses/Problem"}}},
    "delete": {"operationId": "deleteScene", "responses": {"204": {"description": "Deleted"}, "404": {"$ref": "#/components/responses/Problem"}}}},
  "/scenes/{name}/recall": {
    "parameters": [{"$ref": "#/components/parameters/SceneName"}],
    "post": {"operationId": "recallScene", "summary": "Queue the scene's requests in zone order",
      "responses": {"202": {"description": "Queued", "content": {"application/json": {"schema": {"type": "object",
        "properties": {"scene": {"type": "string"}, "requests": {"type": "integer"}}}}}},
        "404": {"$ref": "#/components/responses/Problem"}}}},
  "/openapi.json": {"get": {"operationId": "openapi", "responses": {"200": {"description": "This document", "content": {"application/json": {"schema": {"type": "object"}}}}}}}
},
"components": {
  "parameters": {"SceneName": {"name": "name", "in": "path", "required": true,
    "schema": {"type": "string", "pattern": "^[A-Za-z0-9_.-]([A-Za-z0-9 _.-]{0,38}[A-Za-z0-9_.-])?$"}}},
  "responses": {
    "Zone": {"description": "The zone", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Zone"}}}},
    "Scene": {"description": "The scene", "content": {"application/json": {"schema": {"$ref": "#/components/schemas/Scene"}}}},
    "Problem": {"description": "Refused; nothing was sent to the controller", "content": {"application/problem+json": {"schema": {"$ref": "#/components/schemas/Problem"}}}}},
  "schemas": {
    "Level": {"type": ["integer", "null"], "description": "Decibels; null until the controller reported it"},
    "Zone": {"type": "object", "required": ["zone", "name", "used"], "properties": {
      "zone": {"type": "integer", "minimum": 1, "maximum": 6}, "name": {"type": "string"}, "used": {"type": "boolean"},
      "source": {"type": ["string", "null"], "description": "Input name"},
      "status": {"enum": ["on", "mute", "off", null]},
      "volume": {"$ref": "#/components/schemas/Level"}, "bass": {"$ref": "#/components/schemas/Level"},
      "treble": {"$ref": "#/components/schemas/Level"}, "turnon_mute": {"$ref": "#/components/schemas/Level"},
      "turnon_volume": {"$ref": "#/components/schemas/Level"}}},
    "ZoneList": {"type": "object", "properties": {"zones": {"type": "array", "items": {"$ref": "#/components/schemas/Zone"}},
      "link": {"type": "object", "properties": {"up": {"type": "boolean"}}},
      "sources": {"type": "array", "items": {"type": "string"}, "description": "Input names, \"None\" first"},
      "ranges": {"type": "object", "additionalProperties": {"type": "object", "properties": {
        "min": {"type": "integer"}, "max": {"type": "integer"}, "step": {"type": "integer"}}}}}},
    "LevelRequest": {"oneOf": [{"type": "number"}, {"enum": ["up", "down"]}, {"type": "string", "pattern": "^-?[0-9]+ ?(dB|db)?$"}]},
    "ZoneRequest": {"type": "object", "minProperties": 1, "additionalProperties": false, "properties": {
      "source": {"oneOf": [{"type": "string"}, {"type": "integer", "minimum": 0}], "description": "Input name or number"},
      "status": {"enum": ["on", "mute", "toggle"]},
      "volume": {"$ref": "#/components/schemas/LevelRequest"}, "bass": {"$ref": "#/components/schemas/LevelRequest"},
      "treble": {"$ref": "#/components/schemas/LevelRequest"}, "turnon_mute": {"$ref": "#/components/schemas/LevelRequest"},
      "turnon_volume": {"$ref": "#/components/schemas/LevelRequest"}}},
    "SceneValues": {"type": "object", "additionalProperties": false, "properties": {
      "source": {"type": "string"}, "status": {"enum": ["on", "mute", "off"]}, "volume": {"type": "integer"},
      "bass": {"type": "integer"}, "treble": {"type": "integer"}, "turnon_mute": {"type": "integer"}, "turnon_volume": {"type": "integer"}}},
    "Scene": {"type": "object", "required": ["name", "zones"], "properties": {"name": {"type": "string"},
      "zones": {"type": "object", "propertyNames": {"pattern": "^[1-6]$"}, "additionalProperties": {"$ref": "#/components/schemas/SceneValues"}}}},
    "SceneList": {"type": "object", "properties": {"scenes": {"type": "array", "items": {"$ref": "#/components/schemas/Scene"}}}},
    "SceneRequest": {"oneOf": [
      {"type": "object", "required": ["capture"], "properties": {"capture": {"const": true}}},
      {"type": "object", "required": ["zones"], "properties": {"zones": {"type": "object", "propertyNames": {"pattern": "^[1-6]$"}, "additionalProperties": {"$ref": "#/components/schemas/SceneValues"}}}}]},
    "Problem": {"type": "object", "required": ["type", "title", "status"], "properties": {
      "type": {"type": "string"}, "title": {"type": "string"}, "status": {"type": "integer"}, "detail": {"type": "string"}}}
  }
}
})JSON";

}  // namespace

std::string_view OpenApiDocument() {
  return kDocument;
}

}  // namespace corvane
