# bash completion for tarvex
