#include "interface/Protocolo.h"

#include <gtest/gtest.h>

#include <string>

#include "RecordsFixture.h"
#include "common/modError.h"
#include "common/platform/errors.h"
#include "interface/CEnCurso.h"

namespace {

using namespace records_test;
using ns::CEnCurso;
using ns::protocolo::Actor;
using ns::protocolo::Estado;
using ns::protocolo::Llegada;
namespace protocolo = ns::protocolo;

constexpr Actor F = Actor::Frente;
constexpr Actor E = Actor::Ejecutor;
constexpr Actor M = Actor::EjecutorAMano;

// Each move as the two processes make it on the state file: the ones the protocol has are
// written (or remove the file), the others raise the operation's error and leave the file as it
// was. `antes` is the word on disk; `vivo`, whether another process holds the executor's byte.
TEST_F(RecordsTest, EveryMoveOfADispensingIsMadeOnlyWhenTheProtocolHasIt) {
  struct Case {
    Actor actor;
    Estado antes;
    bool vivo;
    Estado hasta;
    bool permitido;
  };
  const Case cases[] = {
      // The front object's own moves.
      {F, Estado::Desconocido, false, Estado::Preparada, true},
      {F, Estado::Desconocido, true, Estado::Preparada, false},  // an executor is at work
      {F, Estado::Preparada, false, Estado::Lanzada, true},
      {F, Estado::Lanzada, false, Estado::Entregada, true},
      {F, Estado::Enviada, false, Estado::Entregada, true},
      {F, Estado::Entregada, false, Estado::Ninguno, true},
      {F, Estado::Lanzada, false, Estado::Cerrada, true},
      {F, Estado::Tomada, true, Estado::Cerrada, true},
      {F, Estado::Enviada, true, Estado::Cerrada, true},
      {F, Estado::Tomada, false, Estado::Ninguno, true},
      {F, Estado::Enviada, false, Estado::Ninguno, true},
      {F, Estado::Preparada, false, Estado::Ninguno, true},
      {F, Estado::NoEnviada, false, Estado::Ninguno, true},
      // Never removed under a living executor, never closed once nothing can come.
      {F, Estado::Tomada, true, Estado::Ninguno, false},
      {F, Estado::Enviada, true, Estado::Ninguno, false},
      {F, Estado::NoEnviada, false, Estado::Cerrada, false},
      {F, Estado::Entregada, false, Estado::Cerrada, false},
      {F, Estado::Lanzada, false, Estado::Ninguno, false},
      {F, Estado::Preparada, false, Estado::Entregada, false},
      {F, Estado::Lanzada, false, Estado::Tomada, false},  // the executor's move
      {F, Estado::Tomada, false, Estado::NoEnviada, false},
      // The executor's.
      {E, Estado::Lanzada, false, Estado::Tomada, true},
      {E, Estado::Tomada, false, Estado::Enviada, true},
      {E, Estado::Tomada, false, Estado::NoEnviada, true},
      {E, Estado::Enviada, false, Estado::NoEnviada, true},
      {E, Estado::Cerrada, false, Estado::Ninguno, true},
      // Nothing goes out after a fallback, nor without being taken first.
      {E, Estado::Cerrada, false, Estado::Enviada, false},
      {E, Estado::Cerrada, false, Estado::Tomada, false},
      {E, Estado::Lanzada, false, Estado::Enviada, false},
      {E, Estado::Preparada, false, Estado::Tomada, false},
      {E, Estado::Entregada, false, Estado::Tomada, false},
      {E, Estado::NoEnviada, false, Estado::Tomada, false},
      {E, Estado::Enviada, false, Estado::Tomada, false},
      {E, Estado::Enviada, false, Estado::Entregada, false},
      {E, Estado::Enviada, false, Estado::Cerrada, false},
      {E, Estado::Entregada, false, Estado::Ninguno, false},
      {E, Estado::Lanzada, false, Estado::NoEnviada, false},
      // By hand, an executor writes no state at all.
      {M, Estado::Lanzada, false, Estado::Tomada, false},
      {M, Estado::Cerrada, false, Estado::Ninguno, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(static_cast<int>(c.actor)) + ": " + protocolo::Texto(c.antes) +
                 " -> " + protocolo::Texto(c.hasta));
    CEnCurso enCurso("ID-1");
    enCurso.set_Rechazo(ns::errExportDispensing, "CExecutor.SolicitudDispensacion");
    CEnCurso::Paso paso(enCurso);
    enCurso.BorrarEstado();
    if (c.antes != Estado::Desconocido) enCurso.set_Estado(protocolo::Texto(c.antes));
    const std::string before = enCurso.Estado();
    try {
      enCurso.Mover(c.actor, c.antes, c.hasta, c.vivo);
      EXPECT_TRUE(c.permitido) << "made";
      EXPECT_EQ(enCurso.Estado(), protocolo::Texto(c.hasta));
    } catch (const ns::platform::Failure& failure) {
      EXPECT_FALSE(c.permitido) << "refused";
      EXPECT_EQ(failure.Number(), ns::errExportDispensing);
      EXPECT_EQ(enCurso.Estado(), before);
    }
  }
}

// An executor's first step decides by the state it finds: only a dispensing not yet taken is
// taken; a taken one is in flight while its executor lives, and anything else is not sent.
TEST(Protocolo, AnExecutorTakesOnlyWhatIsNotTakenYet) {
  struct Case {
    Estado estado;
    Llegada solo;     // no other executor alive
    Llegada conOtro;  // another executor holds its byte
  };
  const Case cases[] = {
      {Estado::Ninguno, Llegada::Tomar, Llegada::Tomar},  // its byte decides
      {Estado::Lanzada, Llegada::Tomar, Llegada::Tomar},
      {Estado::Tomada, Llegada::NoEnviar, Llegada::EnCurso},
      {Estado::Enviada, Llegada::NoEnviar, Llegada::EnCurso},
      {Estado::Preparada, Llegada::NoEnviar, Llegada::NoEnviar},
      {Estado::Cerrada, Llegada::NoEnviar, Llegada::NoEnviar},
      {Estado::Entregada, Llegada::NoEnviar, Llegada::NoEnviar},
      {Estado::NoEnviada, Llegada::NoEnviar, Llegada::NoEnviar},
      {Estado::Desconocido, Llegada::NoEnviar, Llegada::NoEnviar},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(protocolo::Texto(c.estado));
    EXPECT_EQ(protocolo::AlLlegar(c.estado, false), c.solo);
    EXPECT_EQ(protocolo::AlLlegar(c.estado, true), c.conOtro);
  }
  EXPECT_EQ(protocolo::DeTexto("lanzada\r"), Estado::Desconocido);
  EXPECT_EQ(protocolo::DeTexto(""), Estado::Ninguno);
}

// A process killed (or held, while the other goes on) at each of its stop points leaves a state
// the others read right: the front object answering without the answer removes it when no
// executor can come, closes it otherwise, and a later executor of the same identifier never sends
// a closed dispensing.
TEST(Protocolo, WhatAKilledProcessLeavesIsReadRightByTheOthers) {
  struct Case {
    const char* parada;
    Estado dejado;      // the state at the stop point
    bool ejecutorVivo;  // whether the executor is still alive when the front object closes
    Estado cierre;      // what the front object leaves without the answer
    Llegada siguiente;  // what a later executor does with what the front object left
  };
  const Case cases[] = {
      {"CExecutor.Inicio", Estado::Lanzada, false, Estado::Cerrada, Llegada::NoEnviar},
      {"CExecutor.Conectado", Estado::Tomada, false, Estado::Ninguno, Llegada::Tomar},
      {"CExecutor.Respuesta", Estado::Enviada, false, Estado::Ninguno, Llegada::Tomar},
      {"CExecutor.Entregada", Estado::Enviada, false, Estado::Ninguno, Llegada::Tomar},
      {"CInterface.EsperaTerminada", Estado::Enviada, true, Estado::Cerrada, Llegada::NoEnviar},
      {"CInterface.EsperaTerminada", Estado::Tomada, true, Estado::Cerrada, Llegada::NoEnviar},
      {"noenviada", Estado::NoEnviada, false, Estado::Ninguno, Llegada::Tomar},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.parada) + " " + protocolo::Texto(c.dejado));
    const Estado cierre = protocolo::Cierre(c.dejado, c.ejecutorVivo);
    EXPECT_EQ(cierre, c.cierre);
    EXPECT_TRUE(protocolo::Permitido(Actor::Frente, c.dejado, cierre, c.ejecutorVivo));
    EXPECT_EQ(protocolo::AlLlegar(cierre, false), c.siguiente);
  }
}

// The late answer is told by the state wherever there is one; only a request with none (an
// executor run by hand) asks the audit whether the front object answered with a fallback.
TEST(Protocolo, ALateAnswerIsToldByTheStateAndByTheAuditOnlyWithoutOne) {
  struct Case {
    bool conEstado;
    Estado estado;
    bool auditoria;  // what the audit says
    bool tardia;
  };
  const Case cases[] = {
      {true, Estado::Cerrada, false, true},   {true, Estado::Enviada, true, false},
      {true, Estado::Ninguno, true, false},   {false, Estado::Ninguno, true, true},
      {false, Estado::Ninguno, false, false},
  };
  for (const Case& c : cases) {
    bool asked = false;
    const bool tardia = protocolo::RespuestaTardia(c.conEstado, c.estado, [&] {
      asked = true;
      return c.auditoria;
    });
    EXPECT_EQ(tardia, c.tardia) << protocolo::Texto(c.estado);
    EXPECT_EQ(asked, !c.conEstado);
  }
}

}  // namespace
