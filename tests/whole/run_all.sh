#!/usr/bin/env bash
echo "whole-program tests: none yet"
